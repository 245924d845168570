#include "platform/wire_url.h"

#include <gtest/gtest.h>

#include <random>

namespace kqget {
namespace {

// Written out independently of the encoder: what a request target may hold raw.
bool allowedOnTheWire(unsigned char c)
{
    static const std::string_view kForbidden = "#\"<>\\^`{|} ";
    return c > 0x20 && c < 0x7F && kForbidden.find(static_cast<char>(c)) == std::string_view::npos;
}

TEST(WireUrlTest, EncodesExactlyTheBytesARequestTargetCannotHold)
{
    const struct
    {
        std::string_view formed;
        std::string_view wire;
    } cases[] = {
        {"http://h/bof/bof.php?cmd=cardinfo&mlunkey=K1&xmlonly=1",
         "http://h/bof/bof.php?cmd=cardinfo&mlunkey=K1&xmlonly=1"},
        {"?k=a b#c", "?k=a%20b%23c"},
        {"\"<>\\^`{|}", "%22%3C%3E%5C%5E%60%7B%7C%7D"},
        {std::string_view("\x00\x01\t\r\n\x1f\x7f", 7), "%00%01%09%0D%0A%1F%7F"},
        {"Jos\xc3\xa9\xff", "Jos%C3%A9%FF"},
        // Already encoded text and the query's own separators stay as they are.
        {"%41%zz%&?=/:;@!$'()*+,~-._[]", "%41%zz%&?=/:;@!$'()*+,~-._[]"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wireUrl(c.formed), c.wire) << "formed: " << c.formed;
    }
}

TEST(WireUrlTest, AnyInputComesOutPrintableAndStable)
{
    std::string everyByte;
    for (int c = 0; c < 256; ++c) {
        everyByte.push_back(static_cast<char>(c));
    }
    std::mt19937 random(20240607);
    std::vector<std::string> inputs{everyByte};
    for (int i = 0; i < 200; ++i) {
        std::string text(random() % 40, '\0');
        for (char& c : text) {
            c = static_cast<char>(random() % 256);
        }
        inputs.push_back(std::move(text));
    }
    for (const std::string& input : inputs) {
        const std::string wire = wireUrl(input);
        for (const char c : wire) {
            ASSERT_TRUE(allowedOnTheWire(static_cast<unsigned char>(c))) << wire;
        }
        EXPECT_EQ(wireUrl(wire), wire) << "encoding twice must change nothing";
    }
}

} // namespace
} // namespace kqget
