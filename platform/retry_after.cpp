#include "platform/retry_after.h"

#include "platform/http_date.h"
#include "update/run_inputs.h"

#include <algorithm>
#include <charconv>

namespace kqget {

std::optional<std::chrono::seconds> retryAfterWait(std::string_view value, std::time_t now)
{
    value = trimSpaces(value, " \t");
    long long seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error == std::errc() && end == value.data() + value.size()) {
        return seconds < 0 ? std::nullopt : std::optional(std::chrono::seconds(seconds));
    }
    const std::optional<std::time_t> date = parseHttpDate(value);
    if (!date) {
        return std::nullopt;
    }
    return std::chrono::seconds(std::max<long long>(*date - now, 0));
}

} // namespace kqget
