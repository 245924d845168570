#pragma once

#include "app/window_view.h"
#include "update/card_locations.h"
#include "update/file_system_port.h"
#include "update/run_log.h"
#include "update/transfer_port.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kqget {

class WindowProgress;

// The combinations of control properties that the window moves between. The
// window stores no state of its own: these are read off its controls.
enum class WindowState
{
    Ready,     // waiting for the box to be ticked
    Confirmed, // the box is ticked: the update button is on
    Running,   // everything locked while a run works
    Done,      // "DONE !", until the reset button is pressed
};

// The window's four handlers (its load, and the clicks of Check1, Command1 and
// Command2) and its closing, with no toolkit: they work on the controls
// through a WindowView, so every binding of the window behaves the same.
// The update handler runs a whole card update run on the window's thread,
// keeping the window responsive through the view.
class WindowLogic
{
public:
    // Makes the transfer of one run.
    using TransferFactory = std::function<std::unique_ptr<TransferPort>()>;

    // `logPath`: where each run writes its log, relative to the working folder.
    // `hosts`: where the card service is.
    WindowLogic(WindowView& view, FileSystemPort& fileSystem, TransferFactory makeTransfer,
                std::string logPath = std::string(kRunLogFileName),
                ServiceHosts hosts = ServiceHosts::configured());
    ~WindowLogic();
    WindowLogic(const WindowLogic&) = delete;
    WindowLogic& operator=(const WindowLogic&) = delete;

    void load();           // the window is created, before it is first shown
    void confirmClicked(); // Check1's value changed, by the user or the program
    void updateClicked();  // Command1
    void resetClicked();   // Command2

    // The window is being closed. A run under way stops at once: the fetches
    // it waits for are abandoned, its log is closed, and the program ends when
    // the update handler returns, however late in the run the close came.
    void closing() noexcept;

    bool runUnderWay() const noexcept { return m_runProgress != nullptr; }

    // The state the controls form; none for a combination the handlers never
    // make (the grey box).
    std::optional<WindowState> state() const;

private:
    WindowView& m_view;
    FileSystemPort& m_fileSystem;
    TransferFactory m_makeTransfer;
    std::string m_logPath;
    ServiceHosts m_hosts;
    WindowProgress* m_runProgress = nullptr; // set while a run is under way
    bool m_closeRequested = false;           // the window was closed during this run
};

} // namespace kqget
