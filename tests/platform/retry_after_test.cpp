#include "platform/retry_after.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

using namespace std::chrono_literals;

constexpr std::time_t kNow = 1'000'000;

std::optional<std::time_t> knownDate(const std::string& text)
{
    if (text == "Sun, 06 Nov 1994 08:49:37 GMT") {
        return kNow + 30;
    }
    if (text == "Sat, 05 Nov 1994 08:49:37 GMT") {
        return kNow - 86400;
    }
    return std::nullopt;
}

TEST(RetryAfterTest, SecondsOrADateFromNow)
{
    const std::pair<std::string_view, std::optional<std::chrono::seconds>> cases[] = {
        {"7", 7s},
        {" 120\t", 120s},
        {"0", 0s},
        {"-5", std::nullopt},
        {"", std::nullopt},
        {"7 s", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT", 30s},
        {"Sat, 05 Nov 1994 08:49:37 GMT", 0s}, // already past
        {"tomorrow", std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(retryAfterWait(value, kNow, knownDate), expected) << value;
    }
}

} // namespace
} // namespace kqget
