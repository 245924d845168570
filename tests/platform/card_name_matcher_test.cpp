#include "platform/card_name_matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kqget {
namespace {

TEST(IsCardName, LetterInEitherCaseThenAtMostFourCharactersWithoutAPeriod)
{
    const struct
    {
        std::string_view name;
        char letter;
        bool matches;
    } cases[] = {
        {"A", 'A', true},
        {"A12", 'A', true},
        {"A1234", 'A', true},
        {"A12345", 'A', false},
        {"A123456", 'A', false},
        {"a1234", 'A', true},
        {"B1234", 'A', false},
        {"A1.2", 'A', false},
        {"A.", 'A', false},
        {".", 'A', false},
        {"..", 'A', false},
        {"", 'A', false},
        {"A 1#%", 'A', true},
        {"C\xC3\xA9t\xC3\xA9", 'C', true},    // "Cété": four characters after C
        {"C\xC3\xA9t\xC3\xA9xx", 'C', false}, // six characters
        {"D\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", 'D', true}, // four euro signs
        {"D\xFF\xFF\xFF\xFF", 'D', true}, // invalid bytes count one each
        {"D\xFF\xFF\xFF\xFF\xFF", 'D', false},
        {"\xC3\x89", 'E', false}, // not an ASCII letter
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isCardName(c.name, c.letter), c.matches)
            << "name '" << c.name << "' under " << c.letter;
    }
}

TEST(CardNameLess, IgnoresAsciiCaseThenUsesByteOrder)
{
    std::vector<std::string> names = {"a2", "A10", "A1", "a1", "A_", "AZ", "A\xC3\xA9"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return cardNameLess(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"A1", "a1", "A10", "a2", "AZ", "A_", "A\xC3\xA9"}));
}

} // namespace
} // namespace kqget
