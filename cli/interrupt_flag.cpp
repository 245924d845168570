#include "cli/interrupt_flag.h"

#include <csignal>

namespace kqget {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

} // namespace

InterruptFlag::InterruptFlag()
{
    g_interrupted = 0;
    std::signal(SIGINT, onInterrupt);
}

InterruptFlag::~InterruptFlag()
{
    std::signal(SIGINT, SIG_DFL);
}

bool InterruptFlag::raised() const noexcept
{
    return g_interrupted != 0;
}

} // namespace kqget
