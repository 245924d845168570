#include "platform/win32/win32_file_system.h"
#include "tests/support/temp_dir.h"
#include "update/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>

namespace kqget {
namespace {

using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class Win32FileSystemTest : public ::testing::Test
{
protected:
    testing::TempDir dir;
    Win32FileSystem fs;
};

std::vector<std::string> names(const CardEntries& entries)
{
    return {entries.begin(), entries.end()};
}

TEST_F(Win32FileSystemTest, SearchKeepsCardNamesTheWildcardAlsoMatches)
{
    // "A*" also finds names with a period, longer ones and (by their short
    // alias) unrelated ones: the card-name rule decides.
    for (const char* name : {"a0002", "A0001", "A12", "A123456", "A1.x", "B0001", "Aé12",
                             "A0010 long name with spaces"}) {
        dir.makeFolder(name);
    }
    dir.write("A9", "a plain file is listed; the run tests it");
    EXPECT_THAT(names(fs.searchCardEntries(dir.folder(), 'A')),
                UnorderedElementsAre("A0001", "a0002", "A12", "A9", "Aé12"));
    EXPECT_THAT(names(fs.searchCardEntries(dir.folder(), 'b')), UnorderedElementsAre("B0001"));
    EXPECT_THAT(names(fs.searchCardEntries(dir.folder(), 'C')), UnorderedElementsAre());
}

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
    EXPECT_EQ(names(fs.searchCardEntries(dir.folder(), 'A')), listed);
}

TEST_F(Win32FileSystemTest, SearchOfAMissingFolderOrAFileFailsNamingIt)
{
    dir.write("file", "x");
    for (const std::string& folder : {dir.folder() + "missing\\", dir.folder() + "file\\"}) {
        try {
            fs.searchCardEntries(folder, 'A');
            ADD_FAILURE() << folder;
        } catch (const RunError& error) {
            EXPECT_EQ(error.number(), ErrorNumber::DataFolder);
            EXPECT_THAT(error.what(), HasSubstr(folder));
        }
    }
}

TEST_F(Win32FileSystemTest, FolderTestAndSizesByAttributes)
{
    dir.makeFolder("Aé12");
    dir.write("Aé12/Aé12_full.png", std::string(11000, 'p'));
    const std::string card = dir.folder() + "Aé12";
    EXPECT_TRUE(fs.isDirectory(card));
    EXPECT_FALSE(fs.isDirectory(card + "\\Aé12_full.png"));
    EXPECT_FALSE(fs.isDirectory(dir.folder() + "missing\\A1"));
    EXPECT_EQ(fs.fileSize(card + "\\Aé12_full.png"), 11000u);
    EXPECT_EQ(fs.fileSize(card + "\\Aé12.xml"), 0u);
    EXPECT_EQ(fs.fileSize(card), 0u);
}

TEST_F(Win32FileSystemTest, ReplaceFileLeavesExactlyTheNewContentAndNoTemporary)
{
    dir.write("Aé12/Aé12.xml", std::string(5000, 'o'));
    const std::string content("<card>\r\n\0é</card>", 17);
    fs.replaceFile(dir.folder() + "Aé12\\Aé12.xml", content);
    EXPECT_EQ(dir.read("Aé12/Aé12.xml"), content);
    EXPECT_EQ(dir.listing(), "Aé12\nAé12/Aé12.xml\n");

    try {
        fs.replaceFile(dir.folder() + "missing\\A1.xml", "x");
        ADD_FAILURE();
    } catch (const RunError& error) {
        EXPECT_EQ(error.number(), ErrorNumber::CardFile);
        EXPECT_THAT(error.what(), HasSubstr("missing\\A1.xml"));
    }
    EXPECT_EQ(dir.listing(), "Aé12\nAé12/Aé12.xml\n");
}

TEST_F(Win32FileSystemTest, LogIsUtf8AsWrittenAndReplacesAnOldOne)
{
    dir.write("KQ-GET-PNG-XML.txt", std::string(100, 'o'));
    const std::string path = dir.folder() + "KQ-GET-PNG-XML.txt";
    auto log = fs.createLog(path);
    log->write("Aé12\r\n");
    log->flush();
    log->write("C:\\Data\\Aé12\\Aé12.xml size 0\r\n");
    log->close();
    EXPECT_EQ(dir.read("KQ-GET-PNG-XML.txt"), "Aé12\r\nC:\\Data\\Aé12\\Aé12.xml size 0\r\n");
}

TEST_F(Win32FileSystemTest, LogIsNeverOpenedThroughALinkNorIntoAFolder)
{
    dir.makeFolder("folder");
    const std::string target = dir.write("target.txt", "keep me").string();
    const auto link = dir.path() / "KQ-GET-PNG-XML.txt";
    // Wine 8 reports success without making a link; only a real one counts.
    const bool linked =
        ::CreateSymbolicLinkW(link.wstring().c_str(),
                              std::filesystem::path(target).wstring().c_str(),
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        (::GetFileAttributesW(link.wstring().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        ::GetFileAttributesW(link.wstring().c_str()) != INVALID_FILE_ATTRIBUTES;
    std::vector<std::string> paths = {dir.folder() + "folder"};
    if (linked) {
        paths.push_back(dir.folder() + "KQ-GET-PNG-XML.txt");
    }
    for (const std::string& path : paths) {
        try {
            fs.createLog(path);
            ADD_FAILURE() << path;
        } catch (const RunError& error) {
            EXPECT_EQ(error.number(), ErrorNumber::LogFile);
            EXPECT_THAT(error.what(), HasSubstr(path));
            if (path == paths.front()) { // says where the log was to be, and what to do
                const std::string folder = dir.folder();
                EXPECT_THAT(error.what(), HasSubstr("in the folder '" +
                                                    folder.substr(0, folder.size() - 1) + "': "));
                EXPECT_THAT(error.what(), HasSubstr("start kqget from a folder you can write to"));
            }
        }
    }
    EXPECT_EQ(dir.read("target.txt"), "keep me");
    if (!linked) {
        GTEST_SKIP() << "symbolic links cannot be made here; only the folder was tried";
    }
}

} // namespace
} // namespace kqget
