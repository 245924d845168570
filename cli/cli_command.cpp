#include "cli/cli_command.h"

#include "cli/cli_options.h"
#include "cli/host_system.h"
#include "cli/interrupt_flag.h"
#include "cli/run_summary.h"
#include "cli/terminal_progress.h"
#include "platform/native_ports.h"
#include "platform/service_settings.h"
#include "platform/system_error_text.h"
#include "update/card_update_run.h"
#include "update/display_text.h"
#include "update/exit_status.h"
#include "update/run_error.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
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

// What a run that a failure ended had done, for the summary after the error.
struct FailedRun
{
    RunTally tally;
    std::chrono::milliseconds wallTime{};
};

int run(const CliOptions& options, const ServiceBases& bases, std::optional<FailedRun>& failed)
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
    const auto elapsed = [started] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
    };
    RunTally tally;
    try {
        tally = CardUpdateRun(progress, *fileSystem, *transfer, runOptions, bases.hosts())
                    .run(options.inputs);
    } catch (...) {
        if (!options.quiet) {
            failed = FailedRun{progress.tallySoFar(), elapsed()};
        }
        throw;
    }
    const auto wallTime = elapsed();

    if (!options.quiet) {
        writeOut(
            runSummaryText(tally, logPathForSummary(), wallTime, trimSpaces(options.inputs.key)));
    }
    if (tally.cardsChecked == 0 && !tally.stopped) {
        writeText(stderr, "kqget-cli: warning: " + noCardFoldersText(tally.dataFolder) + "\n");
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

// After the error line, as after an interrupt: what the run did before the
// failure. A run that failed before its first card has nothing to tell, and
// the log named would still be the last run's.
void showPartialSummary(const FailedRun& failed, std::string_view key) noexcept
{
    if (failed.tally.cardsChecked == 0) {
        return;
    }
    try {
        writeOut(runSummaryText(failed.tally, logPathForSummary(), failed.wallTime, key));
        flushOut();
    } catch (...) {
        const CaughtFailure failure = caughtFailure();
        reportFailure(failure.number, failure.description, key);
    }
}

int dispatch(const std::vector<std::string>& arguments, std::string& key,
             std::optional<FailedRun>& failed)
{
    const std::optional<std::string> keyVariable = environmentValue("KQGET_KEY");
    const auto parsed = parseCliOptions(arguments, keyVariable ? keyVariable->c_str() : nullptr);
    if (const auto* problem = std::get_if<CliUsageError>(&parsed)) {
        return reportUsageError(problem->message);
    }
    const auto& options = std::get<CliOptions>(parsed);
    key = std::string(trimSpaces(options.inputs.key));
    int status = exitCode(ExitStatus::Done);
    if (options.action == CliOptions::Action::Help) {
        writeOut(usageText());
        flushOut();
        return status;
    }
    // --version tells what is wrong with the settings as well as what is right.
    const ServiceSettings settings =
        resolveServiceSettings(options.infoBase, options.imageBase, true, environmentValue);
    if (options.action == CliOptions::Action::Version) {
        writeOut(settings.versionText());
    } else if (!settings.problem.empty()) {
        return reportUsageError(settings.problem);
    } else {
        status = run(options, settings.bases, failed);
    }
    flushOut();
    return status;
}

} // namespace

int runCliCommand(const std::vector<std::string>& arguments)
{
    std::string key;
    std::optional<FailedRun> failed;
    try {
        return dispatch(arguments, key, failed);
    } catch (...) {
        const CaughtFailure failure = caughtFailure();
        const int status = reportFailure(failure.number, failure.description, key);
        if (failed) {
            showPartialSummary(*failed, key);
        }
        return status;
    }
}

} // namespace kqget
