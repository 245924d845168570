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

// The log's full path for the user to find it; the name alone when the
// working folder cannot be told.
std::string shownLogPath(const std::string& logPath)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(logPath, error);
    return error ? logPath : absolute.string();
}

} // namespace

// How one run ended: its tally, or the failure that ended it.
struct WindowLogic::RunEnd
{
    struct Failure
    {
        ErrorNumber number;
        std::string description;
    };

    RunTally tally;
    std::optional<Failure> failure;
};

WindowLogic::WindowLogic(WindowView& view, FileSystemPort& fileSystem, TransferFactory makeTransfer,
                         std::string logPath, ServiceHosts hosts,
                         std::chrono::milliseconds eventInterval)
    : m_view(view), m_fileSystem(fileSystem), m_makeTransfer(std::move(makeTransfer)),
      m_logPath(std::move(logPath)), m_hosts(std::move(hosts)), m_eventInterval(eventInterval)
{}

WindowLogic::~WindowLogic() = default;

void WindowLogic::load()
{
    m_view.setEnabled(Control::Update, false);
    m_view.setCheckValue(Control::Confirm, CheckValue::Unticked);

    // Each line after the first is appended to the caption as it stands.
    const auto appendLine = [this](Control label, std::string_view line) {
        m_view.setText(label, m_view.text(label).append(kCaptionLineBreak).append(line));
    };
    m_view.setText(Control::Guide,
                   std::string(kGuideLines[0]).append(kCaptionLineBreak).append(kGuideLines[1]));
    appendLine(Control::Guide, kGuideLines[2]);
    m_view.setText(Control::Instructions, kInstructionLines[0]);
    for (std::size_t line = 1; line < kInstructionLines.size(); ++line) {
        appendLine(Control::Instructions, kInstructionLines[line]);
    }
}

void WindowLogic::confirmClicked()
{
    m_view.setEnabled(Control::Update, m_view.checkValue(Control::Confirm) == CheckValue::Ticked);
}

void WindowLogic::resetClicked()
{
    backToReady();
}

void WindowLogic::backToReady()
{
    m_view.setText(Control::Update, kUpdateCaption);
    m_view.setCheckValue(Control::Confirm, CheckValue::Unticked);
    m_view.setEnabled(Control::Confirm, true);
    // Moved before the button that has it goes off, so that it is never lost.
    m_view.setFocus(Control::Confirm);
    m_view.setEnabled(Control::Reset, false);
}

void WindowLogic::updateClicked()
{
    // Events are processed during a run, so a press queued before the button
    // went off could arrive here a second time.
    if (runUnderWay()) {
        return;
    }
    const RunInputs inputs{m_view.text(Control::Key), m_view.text(Control::UserName),
                           m_view.text(Control::DataFolder)};
    // Refused before the log is replaced or anything is sent: the service
    // would only answer an empty value with error pages.
    for (const auto& [value, refusal] :
         {std::pair{&inputs.key, kEmptyKeyText}, std::pair{&inputs.userName, kEmptyUserNameText}}) {
        if (trimSpaces(*value).empty()) {
            m_view.showNotice(refusal);
            backToReady();
            return;
        }
    }
    m_closeRequested = false;
    WindowProgress progress(m_view, m_eventInterval, trimSpaces(inputs.key));
    const RunScope running(m_runProgress, progress);

    RunEnd end;
    try {
        const std::unique_ptr<TransferPort> transfer = m_makeTransfer();
        end.tally =
            CardUpdateRun(progress, m_fileSystem, *transfer, {}, m_hosts, m_logPath).run(inputs);
    } catch (...) {
        const CaughtFailure caught = caughtFailure();
        end.failure.emplace(caught.number, std::string(caught.description));
    }
    showRunEnd(end, progress, inputs);
}

void WindowLogic::showRunEnd(const RunEnd& end, WindowProgress& progress, const RunInputs& inputs)
{
    const std::string_view key = trimSpaces(inputs.key);
    // The last sizes and status the run gave stay on show, whichever way it ended.
    progress.showPendingTexts();
    if (end.failure) {
        showFailure(end, key);
        return;
    }
    if (!end.tally.stopped) {
        m_view.setText(Control::Status, kDoneText);
        m_view.setText(Control::Update, kDoneText);
        m_view.setEnabled(Control::Reset, true);
        progress.processPendingEvents();
    }
    if (!end.tally.stopped && !m_closeRequested) {
        // The update button went off for the run: the keyboard goes on from
        // the one button left to press, unless the user pressed it already
        // while the end was shown.
        if (m_view.isEnabled(Control::Reset)) {
            m_view.setFocus(Control::Reset);
        }
        if (end.tally.cardsChecked == 0) {
            m_view.showNotice("Nothing was checked: " + noCardFoldersText(end.tally.dataFolder) +
                              ".");
        } else if (const auto notice =
                       unrepairedFilesNotice(end.tally, key, shownLogPath(m_logPath))) {
            m_view.showNotice(*notice);
        }
    }
    // A close can come after the run last asked for one (at the final
    // processing of events, with no card left, or while the notice is up): the
    // window is gone all the same, so the program must not go on without it.
    if (end.tally.stopped || m_closeRequested) {
        m_view.endProgram(exitCode(ExitStatus::Done));
    }
}

void WindowLogic::showFailure(const RunEnd& end, std::string_view key)
{
    m_view.showFailure(static_cast<int>(end.failure->number),
                       escapeControls(hideKey(end.failure->description, key)));
    if (m_closeRequested) {
        m_view.endProgram(exitCode(ExitStatus::Failed));
        return;
    }
    // Everything typed stays, so that the user corrects the one field at fault
    // and runs again.
    backToReady();
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
    const bool updateOn = m_view.isEnabled(Control::Update);
    const std::string caption = m_view.text(Control::Update);
    const CheckValue box = m_view.checkValue(Control::Confirm);
    const bool boxOn = m_view.isEnabled(Control::Confirm);
    const bool resetOn = m_view.isEnabled(Control::Reset);

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
