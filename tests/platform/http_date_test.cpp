#include "platform/http_date.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

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
