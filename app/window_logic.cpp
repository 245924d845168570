#include "app/window_logic.h"

#include "app/unrepaired_files_notice.h"
#include "app/window_progress.h"
#include "app/window_texts.h"
#include "update/card_update_run.h"
#include "update/display_text.h"
#include "update/exit_status.h"
#include "update/run_error.h"

#include <filesystem>
#include <utility>

namespace kqget {

namespace {

// Marks the window as running for the length of one run, whichever way it ends.
class RunScope
{
public:
    RunScope(WindowProgress*& slot, WindowProgress& progress) : m_slot(slot) { m_slot = &progress; }
    ~RunScope() { m_slot = nullptr; }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    WindowProgress*& m_slot;
};

struct Failure
{
    ErrorNumber number;
    std::string description;
};

// The log's full path for the user to find it; the name alone when the
// working folder cannot be told.
std::string shownLogPath(const std::string& logPath)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(logPath, error);
    return error ? logPath : absolute.string();
}

} // namespace

WindowLogic::WindowLogic(WindowView& view, FileSystemPort& fileSystem, TransferFactory makeTransfer,
                         std::string logPath, ServiceHosts hosts)
    : m_view(view), m_fileSystem(fileSystem), m_makeTransfer(std::move(makeTransfer)),
      m_logPath(std::move(logPath)), m_hosts(std::move(hosts))
{}

WindowLogic::~WindowLogic() = default;

void WindowLogic::load()
{
    m_view.setEnabled(controls::kUpdate, false);
    m_view.setCheckValue(controls::kConfirm, CheckValue::Unticked);

    // Each line after the first is appended to the caption as it stands.
    const auto appendLine = [this](std::string_view label, std::string_view line) {
        m_view.setText(label, m_view.text(label).append(kCaptionLineBreak).append(line));
    };
    m_view.setText(controls::kGuide,
                   std::string(kGuideLines[0]).append(kCaptionLineBreak).append(kGuideLines[1]));
    appendLine(controls::kGuide, kGuideLines[2]);
    m_view.setText(controls::kInstructions, kInstructionLines[0]);
    for (std::size_t line = 1; line < kInstructionLines.size(); ++line) {
        appendLine(controls::kInstructions, kInstructionLines[line]);
    }
}

void WindowLogic::confirmClicked()
{
    m_view.setEnabled(controls::kUpdate,
                      m_view.checkValue(controls::kConfirm) == CheckValue::Ticked);
}

void WindowLogic::resetClicked()
{
    m_view.setText(controls::kUpdate, kUpdateCaption);
    m_view.setCheckValue(controls::kConfirm, CheckValue::Unticked);
    m_view.setEnabled(controls::kConfirm, true);
    // Moved before the button that has it goes off, so that it is never lost.
    m_view.setFocus(controls::kConfirm);
    m_view.setEnabled(controls::kReset, false);
}

void WindowLogic::updateClicked()
{
    // Events are processed during a run, so a press queued before the button
    // went off could arrive here a second time.
    if (runUnderWay()) {
        return;
    }
    m_closeRequested = false;
    WindowProgress progress(m_view);
    const RunScope running(m_runProgress, progress);
    const RunInputs inputs{m_view.text(controls::kKey), m_view.text(controls::kUserName),
                           m_view.text(controls::kDataFolder)};
    const std::string key(trimSpaces(inputs.key));

    RunTally tally;
    std::optional<Failure> failure;
    try {
        const std::unique_ptr<TransferPort> transfer = m_makeTransfer();
        tally =
            CardUpdateRun(progress, m_fileSystem, *transfer, {}, m_hosts, m_logPath).run(inputs);
    } catch (...) {
        const CaughtFailure caught = caughtFailure();
        failure.emplace(caught.number, std::string(caught.description));
    }
    progress.showPendingTexts();

    if (failure) {
        m_view.showFailure(static_cast<int>(failure->number),
                           escapeControls(hideKey(failure->description, key)));
        m_view.endProgram(exitCode(ExitStatus::Failed));
        return;
    }
    if (!tally.stopped && !m_closeRequested) {
        // The update button went off for the run: the keyboard goes on from
        // the one button left to press.
        m_view.setFocus(controls::kReset);
        if (const auto notice = unrepairedFilesNotice(tally, key, shownLogPath(m_logPath))) {
            m_view.showNotice(*notice);
        }
    }
    // A close can come after the run last asked for one (at its final repaint,
    // with no card left, or while the notice is up): the window is gone all
    // the same, so the program must not go on without it.
    if (tally.stopped || m_closeRequested) {
        m_view.endProgram(exitCode(ExitStatus::Done));
    }
}

void WindowLogic::closing() noexcept
{
    if (m_runProgress != nullptr) {
        m_closeRequested = true;
        m_runProgress->requestStop();
    }
}

std::optional<WindowState> WindowLogic::state() const
{
    const bool updateOn = m_view.isEnabled(controls::kUpdate);
    const std::string caption = m_view.text(controls::kUpdate);
    const CheckValue box = m_view.checkValue(controls::kConfirm);
    const bool boxOn = m_view.isEnabled(controls::kConfirm);
    const bool resetOn = m_view.isEnabled(controls::kReset);

    if (caption == kUpdateCaption && !resetOn) {
        if (box == CheckValue::Unticked && boxOn && !updateOn) {
            return WindowState::Ready;
        }
        if (box == CheckValue::Ticked && boxOn && updateOn) {
            return WindowState::Confirmed;
        }
        if (box == CheckValue::Ticked && !boxOn && !updateOn) {
            return WindowState::Running;
        }
    }
    if (caption == kDoneText && box == CheckValue::Ticked && !boxOn && !updateOn && resetOn) {
        return WindowState::Done;
    }
    return std::nullopt;
}

} // namespace kqget
