#include "update/run_inputs.h"

#include <gtest/gtest.h>

namespace kqget {
namespace {

TEST(TrimSpaces, DropsOnlySpacesAtTheEnds)
{
    const struct
    {
        std::string_view typed;
        std::string_view trimmed;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {"  KEY  ", "KEY"},
        {"A B", "A B"},
        {" A  B ", "A  B"},
        {"\tKEY\t", "\tKEY\t"},
        {" \tKEY ", "\tKEY"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trimSpaces(c.typed), c.trimmed) << "typed: '" << c.typed << "'";
    }
}

TEST(WithTrailingSeparator, AppendsOnlyWhenMissing)
{
    EXPECT_EQ(withTrailingSeparator("", '/'), "/");
    EXPECT_EQ(withTrailingSeparator("/cards", '/'), "/cards/");
    EXPECT_EQ(withTrailingSeparator("/cards/", '/'), "/cards/");
    EXPECT_EQ(withTrailingSeparator("C:\\cards", '\\'), "C:\\cards\\");
    EXPECT_EQ(withTrailingSeparator("C:\\cards\\", '\\'), "C:\\cards\\");
}

} // namespace
} // namespace kqget
