#include "platform/retry_after.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

using namespace std::chrono_literals;

// 30 s before Sun, 06 Nov 1994 08:49:37 GMT.
constexpr std::time_t kNow = 784111777 - 30;

// Built and run on every system: each reads Retry-After the same way.
TEST(RetryAfterTest, SecondsOrOneOfTheThreeDateFormsFromNow)
{
    const std::pair<std::string_view, std::optional<std::chrono::seconds>> cases[] = {
        {"7", 7s},
        {" 120\t", 120s},
        {"0", 0s},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {"", std::nullopt},
        {"7 s", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT", 30s},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 30s},
        {"Sun Nov  6 08:49:37 1994", 30s},
        {"Sat, 05 Nov 1994 08:49:37 GMT", 0s}, // already past
        // Near misses some parsers take: no wait given.
        {"06 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun,06 Nov 1994 08:49:37 GMT", std::nullopt},
        {"sun, 06 nov 1994 08:49:37 gmt", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 06 Nov 94 08:49:37 GMT", std::nullopt},
        {"Sun Nov 6 08:49:37 1994", std::nullopt},
        {"1994-11-06T08:49:37Z", std::nullopt},
        {"tomorrow", std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(retryAfterWait(value, kNow), expected) << value;
    }
}

TEST(HttpDateTest, ReadsTheThreeFormsAndNothingElse)
{
    constexpr std::time_t kDate = 784111777; // 1994-11-06 08:49:37 UTC
    const std::pair<std::string, std::optional<std::time_t>> cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", kDate},
        {"Sunday, 06-Nov-94 08:49:37 GMT", kDate},
        {"Sun Nov  6 08:49:37 1994", kDate},
        {"Wed Nov 16 08:49:37 1994", kDate + 10 * 86400},
        {"Sun Nov 6 08:49:37 1994", std::nullopt}, // a day of one digit comes after two spaces
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Tue, 29 Feb 2028 23:59:59 GMT", 1835481599},
        {"Wednesday, 01-Jan-25 00:00:00 GMT", 1735689600},
        {"Wed, 01-Jan-25 00:00:00 GMT", std::nullopt}, // that form spells the day out
        {"soon", std::nullopt},
        {"", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT trailing", std::nullopt},
        {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 CET", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseHttpDate(text), expected) << text;
    }
}

} // namespace
} // namespace kqget
