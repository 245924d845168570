#include "cli/interrupt_flag.h"

#include <atomic>
#include <windows.h>

namespace kqget {

namespace {

std::atomic<bool> g_interrupted{false};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // The next one ends the program without waiting, as usual.
        return g_interrupted.exchange(true) ? FALSE : TRUE;
    default:
        return FALSE; // closing the console or logging off: the system's default
    }
}

} // namespace

InterruptFlag::InterruptFlag()
{
    g_interrupted = false;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptFlag::~InterruptFlag()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

bool InterruptFlag::raised() const noexcept
{
    return g_interrupted;
}

} // namespace kqget
