#include "cli/cli_command.h"

#include "cli/cli_options.h"
#include "cli/interrupt_flag.h"
#include "cli/run_summary.h"
#include "cli/terminal_progress.h"
#include "platform/curl_transfer.h"
#include "platform/local_file_system.h"
#include "update/build_config.h"
#include "update/card_update_run.h"
#include "update/exit_status.h"
#include "update/run_error.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <variant>

namespace kqget {

namespace {

std::string logPathForSummary()
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(std::string(kRunLogFileName), error);
    return error ? std::string(kRunLogFileName) : absolute.string();
}

int run(const CliOptions& options)
{
    InterruptFlag interrupt;
    std::FILE* progressOut = (!options.quiet && ::isatty(STDERR_FILENO)) ? stderr : nullptr;
    TerminalProgress progress(progressOut, [&interrupt] { return interrupt.raised(); });
    LocalFileSystem fileSystem;
    CurlTransfer transfer;

    RunTally tally;
    try {
        tally = CardUpdateRun(progress, fileSystem, transfer).run(options.inputs);
    } catch (const RunError& error) {
        progress.finish();
        std::fprintf(stderr, "kqget-cli: error %d: %s\n", error.code(), error.what());
        return exitCode(ExitStatus::Failed);
    }
    progress.finish();

    if (!options.quiet) {
        std::fputs(runSummaryText(tally, logPathForSummary()).c_str(), stdout);
    }
    if (tally.stopped) {
        std::fputs("kqget-cli: interrupted; the run stopped with no file half-written\n", stderr);
        return exitCode(ExitStatus::Interrupted);
    }
    return exitCode(tally.notStored.empty() ? ExitStatus::Done : ExitStatus::SomeNotStored);
}

} // namespace

int runCliCommand(const std::vector<std::string>& arguments)
{
    const auto parsed = parseCliOptions(arguments, std::getenv("KQGET_KEY"));
    if (const auto* problem = std::get_if<CliUsageError>(&parsed)) {
        std::fprintf(stderr, "kqget-cli: %s\n\n%s", problem->message.c_str(), usageText().c_str());
        return exitCode(ExitStatus::Usage);
    }
    const auto& options = std::get<CliOptions>(parsed);
    switch (options.action) {
    case CliOptions::Action::Help:
        std::fputs(usageText().c_str(), stdout);
        return exitCode(ExitStatus::Done);
    case CliOptions::Action::Version:
        std::printf("kqget %.*s\n", static_cast<int>(kDisplayVersion.size()),
                    kDisplayVersion.data());
        return exitCode(ExitStatus::Done);
    case CliOptions::Action::Run:
        break;
    }
    return run(options);
}

} // namespace kqget
