#pragma once

#include "update/content_check_port.h"

#include <chrono>
#include <cstddef>
#include <functional>

namespace kqget {

inline constexpr std::size_t kDefaultJobs = 4;
inline constexpr std::size_t kMaxJobs = 16;

// How a run goes about its work; apart from `verify`, none of it changes what
// the run does.
struct RunOptions
{
    // Set: every card file kept is looked into, and a damaged one fetched
    // again; every body fetched must be sound to be stored.
    const ContentCheckPort* verify = nullptr;
    // Fetches under way at once. Results are applied in walk order whatever
    // the number, so the log, the files and the window come out the same.
    std::size_t jobs = kDefaultJobs;
    // Count the fetches before starting, so a progress line can tell how many
    // are left. Costs a second walk of the library.
    bool countFetchesFirst = false;
    // The clock that Retry-After waits are measured on.
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
};

} // namespace kqget
