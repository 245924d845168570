#pragma once

#include "app/window_view.h"
#include "update/file_system_port.h"
#include "update/run_inputs.h"
#include "update/run_log.h"
#include "update/service_bases.h"
#include "update/transfer_port.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

class WindowProgress;

// The combinations of control properties that the window moves between. The
// window stores no state of its own: these are read off its controls.
//
//   load -> Ready <-> Confirmed (the box's clicks) -> Running (the run starts)
//   Confirmed -> Ready (an empty key or user name, after its box)
//   Running -> Done (the run's end) -> Ready (the reset button)
//   Running -> Ready (a failure, after its box: the typed values stay)
//   Running -> the program ends (a close)
enum class WindowState
{
    Ready,     // waiting for the box to be ticked
    Confirmed, // the box is ticked: the update button is on
    Running,   // everything locked while a run works
    Done,      // "DONE !", until the reset button is pressed
};

// The window's four handlers (its load, and the clicks of the box, the update
// button and the reset button) and its closing, with no toolkit: they work on
// the controls through a WindowView, so every binding of the window behaves
// the same. Every change of state is written here and in WindowProgress, the
// run's events as the window shows them.
//
// The update handler runs a whole card update run on the window's thread, so
// that the run and the controls it changes need no lock, and the window stays
// responsive through the events it processes as the run goes.
class WindowLogic
{
public:
    // Makes the transfer of one run.
    using TransferFactory = std::function<std::unique_ptr<TransferPort>()>;

    // Well under what the eye notices.
    static constexpr std::chrono::milliseconds kDefaultEventInterval{25};

    // `logPath`: where each run writes its log, relative to the working folder.
    // `hosts`: where the card service is. `eventInterval`: the least time
    // between two processings of events that a run's progress asks for.
    WindowLogic(WindowView& view, FileSystemPort& fileSystem, TransferFactory makeTransfer,
                std::string logPath = std::string(kRunLogFileName),
                ServiceHosts hosts = ServiceBases::configured().hosts(),
                std::chrono::milliseconds eventInterval = kDefaultEventInterval);
    ~WindowLogic();
    WindowLogic(const WindowLogic&) = delete;
    WindowLogic& operator=(const WindowLogic&) = delete;

    void load();           // the window is created, before it is first shown
    void confirmClicked(); // the box's value changed, by the user or the program
    void updateClicked();  // the update button
    void resetClicked();   // the reset button

    // The window is being closed. A run under way stops at once: the fetches
    // it waits for are abandoned, its log is closed, and the program ends when
    // the update handler returns, however late in the run the close came.
    void closing() noexcept;

    bool runUnderWay() const noexcept { return m_runProgress != nullptr; }

    // The state the controls form; none for a combination the handlers never
    // make (the grey box).
    std::optional<WindowState> state() const;

private:
    struct RunEnd;

    // Where every run's end, done, stopped or failed, becomes the window's.
    void showRunEnd(const RunEnd& end, WindowProgress& progress, const RunInputs& inputs);
    // A failed run: its report, then the window is Ready again (or, closed
    // meanwhile, the program ends).
    void showFailure(const RunEnd& end, std::string_view key);
    // The update button's caption back, the box unticked and on, reset off.
    void backToReady();

    WindowView& m_view;
    FileSystemPort& m_fileSystem;
    TransferFactory m_makeTransfer;
    std::string m_logPath;
    ServiceHosts m_hosts;
    std::chrono::milliseconds m_eventInterval;
    WindowProgress* m_runProgress = nullptr; // set while a run is under way
    bool m_closeRequested = false;           // the window was closed during this run
};

} // namespace kqget
