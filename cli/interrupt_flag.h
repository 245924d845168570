#pragma once

namespace kqget {

// Turns the first Ctrl-C (on POSIX also SIGTERM or SIGHUP, on Windows also
// Ctrl-Break) into a request to stop at the run's next safe point. A second
// one ends the program at once, as usual.
class InterruptFlag
{
public:
    InterruptFlag();
    ~InterruptFlag();
    InterruptFlag(const InterruptFlag&) = delete;
    InterruptFlag& operator=(const InterruptFlag&) = delete;

    bool raised() const noexcept;
};

} // namespace kqget
