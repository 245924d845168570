#pragma once

namespace kqget {

// How kqget and kqget-cli end, so that a script reads either the same way.
enum class ExitStatus : int
{
    Done = 0,
    SomeNotStored = 1, // the run completed, but some fetch was not stored
    Failed = 2,        // a failure ended the run
    Usage = 64,
    Interrupted = 130,
};

constexpr int exitCode(ExitStatus status) noexcept
{
    return static_cast<int>(status);
}

} // namespace kqget
