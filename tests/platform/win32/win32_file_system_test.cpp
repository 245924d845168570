#include "platform/native_ports.h"
#include "tests/support/temp_dir.h"
#include "update/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>

namespace kqget {
namespace {

using ::testing::HasSubstr;

class Win32FileSystemTest : public ::testing::Test
{
protected:
    testing::TempDir dir;
    std::unique_ptr<FileSystemPort> fs = makeNativeFileSystem();
};

std::vector<std::string> names(const CardEntries& entries)
{
    std::vector<std::string> listed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        listed.emplace_back(entries[i]);
    }
    return listed;
}

// What only Windows does; the contract every system keeps is
// tests/platform/native_file_system_test.cpp.

TEST_F(Win32FileSystemTest, SearchReturnsTheSystemsOwnListingOrder)
{
    for (const char* name : {"A3", "a1", "A2", "A10"}) {
        dir.makeFolder(name);
    }
    std::vector<std::string> listed;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((dir.path() / "A*").wstring().c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        const std::wstring name(found.cFileName);
        listed.emplace_back(name.begin(), name.end());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    EXPECT_EQ(names(fs->searchCardEntries(dir.folder(), 'A')), listed);
}

TEST_F(Win32FileSystemTest, LogIsNeverOpenedThroughALink)
{
    const std::string target = dir.write("target.txt", "keep me").string();
    const auto link = dir.path() / "KQ-GET-PNG-XML.txt";
    // Wine 8 reports success without making a link; only a real one counts.
    const bool linked =
        ::CreateSymbolicLinkW(link.wstring().c_str(),
                              std::filesystem::path(target).wstring().c_str(),
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        (::GetFileAttributesW(link.wstring().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        ::GetFileAttributesW(link.wstring().c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!linked) {
        GTEST_SKIP() << "symbolic links cannot be made here";
    }
    const std::string path = dir.folder() + "KQ-GET-PNG-XML.txt";
    try {
        fs->createLog(path);
        ADD_FAILURE() << path;
    } catch (const RunError& error) {
        EXPECT_EQ(error.number(), ErrorNumber::LogFile);
        EXPECT_THAT(error.what(), HasSubstr(path + "': it is a symbolic link"));
    }
    EXPECT_EQ(dir.read("target.txt"), "keep me");
}

} // namespace
} // namespace kqget
