#include "platform/wire_url.h"
#include "update/card_locations.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
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

bool isHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// How a service commonly reads a request: fields split at '&', names from
// values at the first '=', then each decoded as a form value ('+' a space,
// %XX a byte); a path segment decoded the same way but for '+'.
std::string decoded(std::string_view text, bool plusIsSpace)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            out.push_back(
                static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(plusIsSpace && text[i] == '+' ? ' ' : text[i]);
        }
    }
    return out;
}

std::multimap<std::string, std::string> queryFields(std::string_view url)
{
    std::multimap<std::string, std::string> fields;
    std::string_view query = url.substr(url.find('?') + 1);
    query = query.substr(0, query.find('#'));
    while (!query.empty()) {
        const std::string_view field = query.substr(0, query.find('&'));
        const std::size_t equals = std::min(field.find('='), field.size());
        fields.emplace(decoded(field.substr(0, equals), true),
                       decoded(field.substr(std::min(equals + 1, field.size())), true));
        query.remove_prefix(std::min(field.size() + 1, query.size()));
    }
    return fields;
}

TEST(WireUrlTest, TheServiceReadsExactlyTheTypedValues)
{
    const struct
    {
        std::string key;
        std::string user;
        std::string cardId;
    } cases[] = {
        {"KEY", "USER", "A0001"},
        {"K&mlunusername=evil#%41 +\u00e9", "U=1&cardids=B9999", "A1"},
        {"Zm9v+YmFy/YQ==", "a;b?c/d", "A?1"},
        {"%41%zz%", "us er", "A&x"},
        {"~-._", "\u00dc\u00df", "A%41"},
        {"\"<>\\^`{|}", std::string("\t\x01\x7f\xff", 4), "A+1"},
        {"'!$()*,:@[]", "", "A b#"},
    };
    const ServiceHosts hosts{"http://info.test", "http://img.test"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " / " + c.user + " / " + c.cardId);
        const CardLocations cards(hosts, c.key, c.user, "/data/", '/');
        // What the transfer puts on the wire from what the run hands it.
        const std::string info = wireUrl(cards.wireInfoUrl(c.cardId));
        const std::multimap<std::string, std::string> expected{{"cmd", "cardinfo"},
                                                               {"mlunkey", c.key},
                                                               {"mlunusername", c.user},
                                                               {"cardids", c.cardId},
                                                               {"xmlonly", "1"}};
        EXPECT_EQ(queryFields(info), expected) << info;
        EXPECT_TRUE(info.starts_with("http://info.test/bof/bof.php?")) << info;

        const std::string image = wireUrl(cards.wireImageUrl(c.cardId));
        const std::string_view prefix = "http://img.test/free/sets/";
        ASSERT_TRUE(image.starts_with(prefix)) << image;
        const std::string_view path = std::string_view(image).substr(prefix.size());
        ASSERT_EQ(path.find('?'), std::string_view::npos) << image;
        ASSERT_EQ(path.find('#'), std::string_view::npos) << image;
        const std::size_t slash = path.find('/');
        EXPECT_EQ(decoded(path.substr(0, slash), false), c.cardId);
        EXPECT_EQ(decoded(path.substr(slash), false), "/illustrations/" + c.cardId + "_full.png");
        // The log and the screen keep the URLs as formed.
        EXPECT_EQ(cards.imageUrl(c.cardId),
                  std::string(prefix) + c.cardId + "/illustrations/" + c.cardId + "_full.png");
    }
}

} // namespace
} // namespace kqget
