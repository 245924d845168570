#include "update/run_error.h"
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

TEST(RefuseRootDataFolder, RefusesRootsOnlyWhateverTheSpelling)
{
    const struct
    {
        std::string_view folder;
        char separator;
        bool refused;
    } cases[] = {
        {"/", '/', true},         {"//", '/', true},          {"/./", '/', true},
        {"/data/../", '/', true}, {"/../../", '/', true},     {"\\", '\\', true},
        {"C:\\", '/', true},      {"c:/", '/', true},         {"C:\\KQ\\..\\.\\", '\\', true},
        {"/data/", '/', false},   {"//data//./", '/', false}, {"/../data/", '/', false},
        {"/.../", '/', false},    {"data/../", '/', false}, // the current folder, not the root
        {"C:.\\", '\\', false},   {"CD:\\", '\\', false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        try {
            refuseRootDataFolder(c.folder, c.separator);
            EXPECT_FALSE(c.refused);
        } catch (const RunError& error) {
            EXPECT_TRUE(c.refused) << error.what();
            EXPECT_EQ(error.number(), ErrorNumber::DataFolder);
            EXPECT_NE(std::string_view(error.what()).find("type instead the folder that holds"),
                      std::string_view::npos)
                << error.what();
        }
    }
}

} // namespace
} // namespace kqget
