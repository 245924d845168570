#include "cli/cli_command.h"

#include "cli/cli_options.h"
#include "cli/host_system.h"
#include "cli/interrupt_flag.h"
#include "cli/run_summary.h"
#include "cli/terminal_progress.h"
#include "platform/native_ports.h"
#include "platform/system_error_text.h"
#include "update/build_config.h"
#include "update/card_update_run.h"
#include "update/display_text.h"
#include "update/exit_status.h"
#include "update/run_error.h"
#include "update/service_bases.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <variant>

namespace kqget {

namespace {

std::string logPathForSummary()
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(std::string(kRunLogFileName), error);
    return error ? std::string(kRunLogFileName) : absolute.string();
}

void writeOut(std::string_view text)
{
    if (!writeText(stdout, text)) {
        throw RunError(ErrorNumber::Output,
                       "cannot write to standard output: " + systemErrorText(errno));
    }
}

// Buffered output fails only here when stdout is a full disk or a closed pipe.
void flushOut()
{
    if (std::fflush(stdout) != 0) {
        throw RunError(ErrorNumber::Output,
                       "cannot write to standard output: " + systemErrorText(errno));
    }
}

int run(const CliOptions& options, const ServiceBases& bases)
{
    InterruptFlag interrupt;
    std::FILE* progressOut = (!options.quiet && isTerminal(stderr)) ? stderr : nullptr;
    TerminalProgress progress(progressOut, [&interrupt] { return interrupt.raised(); });
    const auto fileSystem = makeNativeFileSystem();
    TransferOptions transferOptions;
    transferOptions.proxy = options.proxy;
    transferOptions.bases = bases;
    const auto transfer = makeNativeTransfer(transferOptions);
    RunOptions runOptions;
    runOptions.jobs = options.jobs;
    const auto contentCheck = options.verify ? makeNativeContentCheck() : nullptr;
    runOptions.verify = contentCheck.get();
    // The count costs a second walk, worth it only when someone watches the line.
    runOptions.countFetchesFirst = progressOut != nullptr;

    const auto started = std::chrono::steady_clock::now();
    const RunTally tally =
        CardUpdateRun(progress, *fileSystem, *transfer, runOptions, bases.hosts())
            .run(options.inputs);
    const auto wallTime = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);

    if (!options.quiet) {
        writeOut(
            runSummaryText(tally, logPathForSummary(), wallTime, trimSpaces(options.inputs.key)));
    }
    if (tally.failure) {
        // What was done, then why the run ended: told like any failure.
        flushOut();
        throw *tally.failure;
    }
    if (tally.cardsChecked == 0 && !tally.stopped) {
        writeText(stderr, "kqget-cli: warning: " +
                              noCardFoldersText(withTrailingSeparator(
                                  trimSpaces(options.inputs.dataFolder), fileSystem->separator())) +
                              "\n");
    }
    if (tally.stopped) {
        writeText(stderr, "kqget-cli: interrupted; the run stopped with no file half-written\n");
        return exitCode(ExitStatus::Interrupted);
    }
    return exitCode(tally.notStored.empty() ? ExitStatus::Done : ExitStatus::SomeNotStored);
}

int reportUsageError(std::string_view message)
{
    writeText(stderr, "kqget-cli: " + escapeControls(message) + "\nTry 'kqget-cli --help'.\n");
    return exitCode(ExitStatus::Usage);
}

// The one place a failure is told: its number and cause, the key hidden even if
// a message picked it up on the way, nothing that could steer the terminal.
int reportFailure(ErrorNumber number, std::string_view description, std::string_view key) noexcept
{
    try {
        writeText(stderr, "kqget-cli: error " + std::to_string(static_cast<int>(number)) + ": " +
                              escapeControls(hideKey(description, key)) + "\n");
    } catch (...) {
        std::fprintf(stderr, "kqget-cli: error %d: (no memory left to describe it)\n",
                     static_cast<int>(number));
    }
    return exitCode(ExitStatus::Failed);
}

int dispatch(const std::vector<std::string>& arguments, std::string& key)
{
    const std::optional<std::string> keyVariable = environmentValue("KQGET_KEY");
    const auto parsed = parseCliOptions(arguments, keyVariable ? keyVariable->c_str() : nullptr);
    if (const auto* problem = std::get_if<CliUsageError>(&parsed)) {
        return reportUsageError(problem->message);
    }
    const auto& options = std::get<CliOptions>(parsed);
    key = std::string(trimSpaces(options.inputs.key));
    const auto bases = chooseServiceBases({options.infoBase, options.imageBase,
                                           environmentValue("KQGET_INFO_BASE"),
                                           environmentValue("KQGET_IMAGE_BASE")});
    if (const auto* problem = std::get_if<std::string>(&bases)) {
        return reportUsageError(*problem);
    }
    int status = exitCode(ExitStatus::Done);
    switch (options.action) {
    case CliOptions::Action::Help:
        writeOut(usageText());
        break;
    case CliOptions::Action::Version:
        writeOut("kqget " + std::string(kDisplayVersion) + "\n" +
                 serviceBasesText(std::get<ServiceBases>(bases)));
        break;
    case CliOptions::Action::Run:
        status = run(options, std::get<ServiceBases>(bases));
        break;
    }
    flushOut();
    return status;
}

} // namespace

int runCliCommand(const std::vector<std::string>& arguments)
{
    std::string key;
    try {
        return dispatch(arguments, key);
    } catch (...) {
        const CaughtFailure failure = caughtFailure();
        return reportFailure(failure.number, failure.description, key);
    }
}

} // namespace kqget
