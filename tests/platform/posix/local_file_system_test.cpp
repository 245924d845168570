#include "platform/posix/local_file_system.h"
#include "tests/support/temp_dir.h"
#include "update/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

namespace kqget {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class LocalFileSystemTest : public ::testing::Test
{
protected:
    testing::TempDir dir;
    LocalFileSystem fs;
};

// What only POSIX does; the contract every system keeps is
// tests/platform/native_file_system_test.cpp.

std::vector<std::string> names(const CardEntries& entries)
{
    std::vector<std::string> listed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        listed.emplace_back(entries[i]);
    }
    return listed;
}

TEST_F(LocalFileSystemTest, SearchSortsCardNamesWithoutCase)
{
    for (const char* name : {"A12", "a0002", "A0010", "A0001", "A9"}) {
        dir.makeFolder(name);
    }
    EXPECT_THAT(names(fs.searchCardEntries(dir.folder(), 'A')),
                ElementsAre("A0001", "a0002", "A0010", "A12", "A9"));
}

TEST_F(LocalFileSystemTest, FolderTestFollowsLinksAndNeverFailsOnBrokenOnes)
{
    dir.makeFolder("A1");
    dir.write("A2", "a file");
    std::filesystem::create_directory_symlink(dir.path() / "A1", dir.path() / "A3");
    std::filesystem::create_symlink(dir.path() / "gone", dir.path() / "A4");
    std::filesystem::create_symlink(dir.path() / "A5", dir.path() / "A5");
    dir.write("A1/A1.xml", "<card/>");
    const struct
    {
        std::string_view name;
        EntryType listed; // a link's type is what it points to: the run asks
        bool isDirectory;
        std::uint64_t xmlSize; // NAME/A1.xml
    } cases[] = {
        {"A1", EntryType::Folder, true, 7},   {"A2", EntryType::Other, false, 0},
        {"A3", EntryType::Unknown, true, 7},  {"A4", EntryType::Unknown, false, 0},
        {"A5", EntryType::Unknown, false, 0},
    };
    const CardEntries entries = fs.searchCardEntries(dir.folder(), 'A');
    ASSERT_EQ(entries.size(), std::size(cases));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(entries[i], c.name);
        EXPECT_EQ(entries.type(i), c.listed) << c.name;
        EXPECT_EQ(fs.isDirectory(dir.folder() + std::string(c.name)), c.isDirectory) << c.name;
        EXPECT_EQ(fs.fileStamp(dir.folder() + std::string(c.name) + "/A1.xml").size, c.xmlSize)
            << c.name;
    }
}

TEST_F(LocalFileSystemTest, StoringOverAFolderGivesTheSystemsReason)
{
    dir.makeFolder("A1/A1.xml");
    try {
        const std::unique_ptr<StagedFile> staged = fs.stageFile(dir.folder() + "A1/A1.xml");
        staged->write("content");
        staged->commit();
        FAIL() << "storing over a folder should fail";
    } catch (const RunError& error) {
        EXPECT_THAT(error.what(), HasSubstr("directory"));
    }
}

// A replaced card file keeps its mode, also bits a new file would lose to
// the umask (others' write) and execute bits.
TEST_F(LocalFileSystemTest, AReplacedFileKeepsItsMode)
{
    dir.makeFolder("A1");
    const std::string path = dir.folder() + "A1/A1.xml";
    const mode_t saved = ::umask(022);
    for (const mode_t mode : {0640, 0646, 0755, 0600}) {
        dir.write("A1/A1.xml", "old");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        const std::unique_ptr<StagedFile> staged = fs.stageFile(path);
        staged->write("new");
        staged->commit();
        struct stat info
        {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode) << std::oct << mode;
    }
    ::umask(saved);
}

TEST_F(LocalFileSystemTest, LogIsReadableByItsOwnerOnly)
{
    const std::string path = dir.folder() + "log.txt";
    dir.write("log.txt", "an earlier run");
    ::chmod(path.c_str(), 0644);
    fs.createLog(path)->close();
    struct stat info
    {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LocalFileSystemTest, LogIsNeverOpenedThroughALinkOrIntoAPipe)
{
    // A link planted at the log's name must leave what it names as it was:
    // not emptied, not made private, not created.
    const std::string target = dir.write("precious.txt", "somebody's data").string();
    ::chmod(target.c_str(), 0644);
    std::filesystem::create_symlink(target, dir.path() / "to-file");
    std::filesystem::create_symlink(dir.path() / "absent", dir.path() / "to-nothing");
    ASSERT_EQ(::mkfifo((dir.folder() + "pipe").c_str(), 0600), 0);
    const struct
    {
        std::string_view name;
        std::string_view reason;
    } cases[] = {
        {"to-file", "it is a symbolic link"},
        {"to-nothing", "it is a symbolic link"},
        {"pipe", "it is not a regular file"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.folder() + std::string(c.name);
        try {
            fs.createLog(path);
            ADD_FAILURE() << c.name << " became the log";
        } catch (const RunError& error) {
            EXPECT_EQ(error.number(), ErrorNumber::LogFile);
            EXPECT_THAT(error.what(), HasSubstr("'" + path + "': " + std::string(c.reason)));
        }
    }
    EXPECT_EQ(dir.read("precious.txt"), "somebody's data");
    struct stat info
    {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "absent"));
}

} // namespace
} // namespace kqget
