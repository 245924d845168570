#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// Reads an HTTP date (the three forms HTTP allows) into seconds since the
// epoch; each platform has a parser of its own.
using HttpDateParser = std::optional<std::time_t> (*)(const std::string& text);

// A Retry-After value as a wait from `now`: delay-seconds as given, an HTTP
// date less `now` (0 when already past). Unreadable or negative: none.
std::optional<std::chrono::seconds> retryAfterWait(std::string_view value, std::time_t now,
                                                   HttpDateParser parseDate);

} // namespace kqget
