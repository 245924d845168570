#include "cli/interrupt_flag.h"

#include <csignal>

namespace kqget {

namespace {

// A terminal closing (SIGHUP) or a service manager stopping the job (SIGTERM)
// deserves the same orderly end as Ctrl-C: the log closed, nothing half-written.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_interrupted = 0;

void setHandler(void (*handler)(int))
{
    struct sigaction action
    {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kStopSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
    // The next one, of any of them, ends the program without waiting.
    setHandler(SIG_DFL);
}

} // namespace

InterruptFlag::InterruptFlag()
{
    g_interrupted = 0;
    setHandler(onInterrupt);
}

InterruptFlag::~InterruptFlag()
{
    setHandler(SIG_DFL);
}

bool InterruptFlag::raised() const noexcept
{
    return g_interrupted != 0;
}

} // namespace kqget
