#include "platform/native_ports.h"
#include "tests/support/temp_dir.h"
#include "update/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kqget {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

// What every system's file system promises the run, on real folders. The order
// of a search and what a link at the log's name does are each system's own
// (tests/platform/posix/, tests/platform/win32/).
class NativeFileSystemTest : public ::testing::Test
{
protected:
    // A path below the temporary folder, written with '/' and given in the
    // system's own separator, as the run forms it.
    std::string native(std::string_view relative) const
    {
        std::string path = dir.folder() + std::string(relative);
        const char separator = fs->separatorFor(dir.folder());
        std::ranges::replace(path, '/', separator);
        return path;
    }

    void replaceFile(std::string_view path, std::string_view content)
    {
        const std::unique_ptr<StagedFile> staged = fs->stageFile(path);
        staged->write(content);
        staged->commit();
    }

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

TEST_F(NativeFileSystemTest, SearchKeepsOnlyCardNamesUnderEitherCaseOfTheLetter)
{
    // Windows' "A*" also matches names with a period, longer ones and unrelated
    // ones by their short alias: the card-name rule decides, never the pattern.
    for (const char* name : {"a0002", "A0001", "A12", "A123456", "A1.x", "B0001", "A0010", "Aé12",
                             "A0010 long name with spaces"}) {
        dir.makeFolder(name);
    }
    dir.write("A9", "a plain file is listed; the run tests it");
    const CardEntries listed = fs->searchCardEntries(dir.folder(), 'A');
    EXPECT_THAT(names(listed),
                UnorderedElementsAre("A0001", "a0002", "A0010", "A12", "A9", "Aé12"));
    // A type the listing tells is the one the folder test would give.
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (listed.type(i) != EntryType::Unknown) {
            EXPECT_EQ(listed.type(i) == EntryType::Folder,
                      fs->isDirectory(dir.folder() + std::string(listed[i])))
                << listed[i];
        }
    }
    EXPECT_THAT(names(fs->searchCardEntries(dir.folder(), 'b')), UnorderedElementsAre("B0001"));
    EXPECT_THAT(names(fs->searchCardEntries(dir.folder(), 'C')), UnorderedElementsAre());
}

TEST_F(NativeFileSystemTest, SearchOfAMissingFolderOrAFileFailsNamingIt)
{
    dir.write("file", "x");
    for (const std::string& folder : {native("missing/"), native("file/")}) {
        try {
            fs->searchCardEntries(folder, 'A');
            ADD_FAILURE() << "searching " << folder << " should fail";
        } catch (const RunError& error) {
            EXPECT_EQ(error.number(), ErrorNumber::DataFolder);
            EXPECT_THAT(error.what(), HasSubstr(folder));
        }
    }
}

// A run holds its data folder and its log's folder, whatever role another run
// would give them; a run's own log in its data folder is no conflict.
TEST_F(NativeFileSystemTest, ARunHoldsItsDataFolderAndItsLogsFolderUntilItEnds)
{
    for (const char* folder : {"work", "Data", "other/Data"}) {
        dir.makeFolder(folder);
    }
    const struct
    {
        const char* name;
        std::string log;
        std::string data;
        std::string refused; // what the refusal names; empty: the run goes
    } cases[] = {
        {"its log in the same folder", native("work/second.txt"), native("other/Data/"),
         "the log's folder '" + native("work") + "'"},
        {"the same data folder", native("other/log.txt"), native("Data/"),
         "data folder '" + native("Data/") + "'"},
        {"its log in the first's data folder", native("Data/log.txt"), native("other/Data/"),
         "the log's folder '" + native("Data") + "'"},
        {"its data folder the first's working folder", native("other/log.txt"), native("work/"),
         "data folder '" + native("work/") + "'"},
        {"other folders", native("other/log.txt"), native("other/Data/"), ""},
        {"its log in its own data folder", native("other/Data/log.txt"), native("other/Data/"), ""},
        {"an absent data folder, left to the walk", native("other/log.txt"), native("absent/"), ""},
    };
    auto first = fs->lockRun(native("work/log.txt"), native("Data/"));
    for (const bool held : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (held ? ", held" : ", let go"));
            try {
                fs->lockRun(c.log, c.data);
                EXPECT_TRUE(!held || c.refused.empty()) << "not refused";
            } catch (const RunError& error) {
                EXPECT_TRUE(held && !c.refused.empty()) << error.what();
                EXPECT_EQ(error.number(), ErrorNumber::RunUnderWay);
                EXPECT_THAT(error.what(), HasSubstr("cannot run on " + c.refused));
            }
        }
        first.reset();
    }
}

TEST_F(NativeFileSystemTest, FolderTestAndSizesCountOnlyWhatIsThere)
{
    dir.write("Aé12/Aé12_full.png", std::string(11000, 'p'));
    dir.makeFolder("A1/A1.xml");
    dir.write("A2", "a file");
    const struct
    {
        std::string_view path;
        bool isDirectory;
        std::uint64_t size; // 0 for anything but a regular file
    } cases[] = {
        {"Aé12", true, 0},
        {"Aé12/Aé12_full.png", false, 11000},
        {"Aé12/Aé12.xml", false, 0},
        {"A1/A1.xml", true, 0},
        {"A2", false, 6},
        {"A6", false, 0},
        {"missing/A1", false, 0},
    };
    // The same whether the folder was listed before (and may be looked at
    // from there) or not.
    for (const bool listed : {false, true}) {
        if (listed) {
            fs->searchCardEntries(dir.folder(), 'A');
        }
        for (const auto& c : cases) {
            EXPECT_EQ(fs->isDirectory(native(c.path)), c.isDirectory) << c.path << listed;
            EXPECT_EQ(fs->fileStamp(native(c.path)).size, c.size) << c.path << listed;
        }
    }
}

TEST_F(NativeFileSystemTest, ReplaceFileLeavesExactlyTheNewContentAndNoTemporary)
{
    dir.write("A1/A1_full.png", std::string(10999, 'o'));
    dir.write("Aé12/Aé12.xml", std::string(5000, 'o'));
    const std::string binary("<card>\r\n\0é</card>", 17);
    replaceFile(native("A1/A1_full.png"), "new");
    replaceFile(native("A1/A1.xml"), "");
    replaceFile(native("Aé12/Aé12.xml"), binary);
    EXPECT_EQ(dir.read("A1/A1_full.png"), "new");
    EXPECT_EQ(dir.read("A1/A1.xml"), "");
    EXPECT_EQ(dir.read("Aé12/Aé12.xml"), binary);
    EXPECT_EQ(dir.listing(), "A1\nA1/A1.xml\nA1/A1_full.png\nAé12\nAé12/Aé12.xml\n");
}

TEST_F(NativeFileSystemTest, ReplaceFileFailureNamesThePathAndLeavesNothingBehind)
{
    dir.makeFolder("A1/A1.xml"); // a folder where the file should go
    for (const std::string& target : {native("A1/A1.xml"), native("missing/A1.xml")}) {
        try {
            replaceFile(target, "content");
            ADD_FAILURE() << "storing " << target << " should fail";
        } catch (const RunError& error) {
            EXPECT_EQ(error.number(), ErrorNumber::CardFile);
            // the path, then the system's reason
            EXPECT_THAT(error.what(), HasSubstr("'" + target + "': "));
            EXPECT_THAT(error.what(), Not(::testing::EndsWith("': ")));
        }
    }
    EXPECT_EQ(dir.listing(), "A1\nA1/A1.xml\n");
}

// A card file's new content waits in the data folder, where a run that holds
// the folder removes, with its first search (of A), what a killed run left
// there: plain files of exactly that name's form, nothing else.
TEST_F(NativeFileSystemTest, TemporaryFilesWaitInTheDataFolderAndAHeldRunsSearchOfARemovesThem)
{
    dir.makeFolder("Data/A1");
    dir.makeFolder("Data/.kqget-FolderFolder.tmp");
    const struct
    {
        const char* name;
        bool goes;
    } cases[] = {
        {".kqget-Ab3dE9fGh1Jk.tmp", true},
        {".kqget-Ab3dE9fGh1J.tmp", false}, // one character short
        {"kqget-Ab3dE9fGh1Jk.tmp", false},
        {"A1/.kqget-Ab3dE9fGh1Jk.tmp", false}, // not where a run leaves them
    };
    for (const auto& c : cases) {
        dir.write("Data/" + std::string(c.name), "left");
    }
    auto staged = fs->stageFile(native("Data/A1/A1.xml"));
    staged->write("<card/>");
    // Where a killed run's next run finds it: in the data folder, or nowhere
    // (a file system with unnamed files), never beside the card file.
    EXPECT_THAT(staged->temporaryPath(), ::testing::Not(::testing::StartsWith(native("Data/A1"))));
    staged.reset();
    const std::string before = dir.listing();
    fs->searchCardEntries(native("Data/"), 'A'); // not held: nothing goes
    const auto lock = fs->lockRun(native("log.txt"), native("Data/"));
    fs->searchCardEntries(native("Data/"), 'B'); // not the first search
    EXPECT_EQ(dir.listing(), before);
    fs->searchCardEntries(native("Data/"), 'A');
    for (const auto& c : cases) {
        EXPECT_EQ(std::filesystem::exists(dir.path() / "Data" / c.name), !c.goes) << c.name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "Data/.kqget-FolderFolder.tmp"));
}

TEST_F(NativeFileSystemTest, LogReplacesAnOldOneAndKeepsItsTextAsWritten)
{
    dir.write("KQ-GET-PNG-XML.txt", std::string(100, 'o'));
    auto log = fs->createLog(native("KQ-GET-PNG-XML.txt"));
    log->write("Aé12\r\n");
    log->flush();
    log->write("C:\\Data\\Aé12\\Aé12.xml size 0\r\n");
    log->write("no line end");
    log->close();
    EXPECT_EQ(dir.read("KQ-GET-PNG-XML.txt"),
              "Aé12\r\nC:\\Data\\Aé12\\Aé12.xml size 0\r\nno line end");
}

TEST_F(NativeFileSystemTest, LogThatCannotBeCreatedSaysWhereAndWhatToDo)
{
    dir.makeFolder("folder");
    const struct
    {
        std::string_view path;
        std::string_view folder;
    } cases[] = {{"folder", ""}, {"missing/log.txt", "missing/"}};
    for (const auto& c : cases) {
        const std::string path = native(c.path);
        std::string folder = native(c.folder);
        folder.pop_back(); // a folder is named without its trailing separator
        try {
            fs->createLog(path);
            ADD_FAILURE() << path << " became the log";
        } catch (const RunError& error) {
            EXPECT_EQ(error.number(), ErrorNumber::LogFile);
            EXPECT_THAT(error.what(), HasSubstr("'" + path + "' in the folder '" + folder + "': "));
            EXPECT_THAT(error.what(), HasSubstr("start kqget from a folder you can write to"));
        }
    }
    EXPECT_EQ(dir.listing(), "folder\n");
}

} // namespace
} // namespace kqget
