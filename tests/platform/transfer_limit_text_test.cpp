#include "platform/transfer_limit_text.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

using namespace std::chrono_literals;

TEST(TransferLimitTextTest, OnlyARedirectFromHttpsToAnotherSchemeLeavesIt)
{
    const struct
    {
        const char* from;
        const char* location;
        bool leaves;
    } cases[] = {
        {"https://a/x", "http://b/x", true},   {"HTTPS://a/x", "Http://b/x", true},
        {"https://a/x", "ftp://b/x", true},    {"https://a/x", "https://b/x", false},
        {"https://a/x", "HTTPS://b/x", false}, {"https://a/x", "//b/x", false},
        {"https://a/x", "/y?u=http:", false},  {"http://a/x", "http://b/x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leavesHttps(c.from, c.location), c.leaves) << c.from << " to " << c.location;
    }
    EXPECT_EQ(tookTooLongText(10min), "took longer than 10 minutes");
    EXPECT_EQ(tookTooLongText(1s), "took longer than 1 second");
    EXPECT_EQ(tookTooLongText(1500ms), "took longer than 1500 ms");
}

} // namespace
} // namespace kqget
