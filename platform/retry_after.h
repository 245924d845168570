#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string_view>

namespace kqget {

// A Retry-After value as a wait from `now`: delay-seconds as given, an HTTP
// date (one of its three forms) less `now`, 0 when already past. Anything
// else: no wait given. Every system reads it with this one parser.
std::optional<std::chrono::seconds> retryAfterWait(std::string_view value, std::time_t now);

} // namespace kqget
