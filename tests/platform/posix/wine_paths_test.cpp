#include "platform/posix/wine_paths.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kqget {
namespace {

// A Windows path found in a prefix as Wine finds it: the drive through its
// dosdevices link, each component as typed where it exists, else the entry
// that matches it without case, else as typed.
TEST(WinePaths, FindsAWindowsPathThroughThePrefixWithoutCaseWhereItMustAndNowhereElse)
{
    testing::TempDir prefix;
    prefix.makeFolder("drive_c/users/Me/AppData/Roaming/mlun/Data/A0001");
    prefix.write("drive_c/users/Me/AppData/Roaming/mlun/Data/A0001/A0001.xml", "<card/>");
    prefix.makeFolder("drive_c/users/Me/AppData/Roaming/mlun/data"); // beside Data
    prefix.makeFolder("dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", prefix.path() / "dosdevices/c:");
    const WinePaths wine(prefix.folder()); // a trailing '/' is dropped
    const std::string c = prefix.folder() + "dosdevices/c:/";
    const std::string data = c + "users/Me/AppData/Roaming/mlun/Data/";
    const struct
    {
        std::string typed;
        std::string found;
    } cases[] = {
        {R"(C:\users\Me\AppData\Roaming\mlun\Data\)", data},
        {R"(c:\USERS\me\appdata\ROAMING\MLUN)", c + "users/Me/AppData/Roaming/mlun"},
        {R"(C:\users\me\AppData\Roaming\mlun\data\)", c + "users/Me/AppData/Roaming/mlun/data/"},
        {R"(C:\Users\Me\AppData\Roaming\mlun\Data\a0001\a0001.XML)", data + "A0001/A0001.xml"},
        {R"(C:\Users\Me\AppData\Roaming\mlun\Data\A0001\A0001_full.png)",
         data + "A0001/A0001_full.png"},
        {R"(C:/users/./Me/../Me//AppData\Roaming\mlun\Data\)", data},
        {R"(C:\..\users\Me\AppData\Roaming\mlun\Data\)", data},
        {R"(C:\Documents and Settings\ME\Data\)", c + "Documents and Settings/ME/Data/"},
        {R"(C:\USERS\Missing\appdata\)", c + "users/Missing/appdata/"},
        {R"(D:\cards\Data)", prefix.folder() + "dosdevices/d:/cards/Data"},
        {"c:", c},
    };
    for (int round = 0; round < 2; ++round) { // the second from the folders found
        for (const auto& c : cases) {
            EXPECT_TRUE(WinePaths::isWindowsPath(c.typed)) << c.typed;
            EXPECT_EQ(wine.toLinux(c.typed), c.found) << c.typed;
        }
    }
    for (const char* linux : {"/home/me/Data", "Data", "C", "1:\\x", "C:Data", ""}) {
        EXPECT_FALSE(WinePaths::isWindowsPath(linux)) << linux;
    }
}

} // namespace
} // namespace kqget
