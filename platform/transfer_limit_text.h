#pragma once

#include "platform/transfer_options.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// The words every transfer uses, on every system, when it ends a fetch on one
// of kqget's own rules rather than on the server's or the network's.

// Whether `url` is an https:// URL, its scheme in any case.
bool isHttps(std::string_view url);

// Whether a redirect from `from` to `location` leaves https: `from` is an
// https:// URL and `location` names another scheme. A relative location
// ("/path", "//host/path") keeps the scheme and does not.
bool leavesHttps(std::string_view from, std::string_view location);

// A redirect from an https:// URL to one that is not: the key is in the query,
// so following it would send the key where anybody on the way can read it.
// `location` is where the redirect pointed, as the server gave it.
std::string clearTextRedirectText(std::string_view location);

// A fetch given up at its total time limit, however steadily its body came,
// e.g. "took longer than 10 minutes".
std::string tookTooLongText(std::chrono::milliseconds limit);

// A reply's pace, judged over whole stall time-outs against the options'
// slowest pace, the same way on every system.
struct PaceWindow
{
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::uint64_t bytes = 0; // since `start`

    void restart(std::chrono::steady_clock::time_point now);
    // Once a whole window has passed: the failure's words when too few bytes
    // came in it, else none and the next window begins.
    std::optional<std::string> judge(std::chrono::steady_clock::time_point now,
                                     const TransferOptions& options);
};

} // namespace kqget
