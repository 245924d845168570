#include "cli/interrupt_flag.h"

#include <array>
#include <csignal>
#include <cstddef>
#include <iterator>

namespace kqget {

namespace {

// A terminal closing (SIGHUP) or a service manager stopping the job (SIGTERM)
// deserves the same orderly end as Ctrl-C: the log closed, nothing half-written.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_interrupted = 0;

// A signal ignored when the program started was ignored on purpose: nohup
// ignores SIGHUP so that a run outlives its terminal, and a shell ignores
// SIGINT for a job it starts in the background. Such a signal stays ignored.
// Asked once, before any handler of ours is installed.
bool ignoredAtStart(int signal)
{
    static const auto ignored = [] {
        std::array<bool, std::size(kStopSignals)> each{};
        for (std::size_t i = 0; i < each.size(); ++i) {
            struct sigaction current
            {};
            each[i] = ::sigaction(kStopSignals[i], nullptr, &current) == 0 &&
                      current.sa_handler == SIG_IGN;
        }
        return each;
    }();
    for (std::size_t i = 0; i < ignored.size(); ++i) {
        if (kStopSignals[i] == signal) {
            return ignored[i];
        }
    }
    return false;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action
    {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kStopSignals) {
        if (!ignoredAtStart(signal)) {
            ::sigaction(signal, &action, nullptr);
        }
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
    for (const int signal : kStopSignals) {
        ignoredAtStart(signal);
    }
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
