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

// Reads a date in one of the three forms HTTP allows, all in GMT:
//   Sun, 06 Nov 1994 08:49:37 GMT     (the preferred one)
//   Sunday, 06-Nov-94 08:49:37 GMT    (obsolete; years 70-99 are 19xx)
//   Sun Nov  6 08:49:37 1994          (C's asctime)
// into seconds since the epoch, each exactly as HTTP spells it. Anything else
// is none: a service's garbled date must not turn into "now".
std::optional<std::time_t> parseHttpDate(std::string_view text);

} // namespace kqget
