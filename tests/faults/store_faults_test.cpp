// Whole runs where the local side fails: the disk fills, the log cannot be
// created, the data folder is wrong, a card folder goes away mid-run. The run
// ends with an error that names the path and the system's reason, and what it
// leaves behind is the old library plus whole new files only.
#include "platform/posix/local_file_system.h"
#include "platform/system_error_text.h"
#include "tests/faults/fault_test_fixture.h"
#include "tests/support/posix/scoped_mount.h"
#include "update/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <optional>
#include <sys/statvfs.h>

namespace kqget {
namespace {

using namespace std::chrono_literals;
using testing::ChildOptions;
using testing::expectSameTree;
using testing::FaultTest;
using testing::FileTree;
using ::testing::HasSubstr;
using testing::ScopedMount;

constexpr std::size_t kSmallDiskBytes = 64 * 1024;
// Room for a small XML file but not for an illustration.
constexpr std::size_t kRoomLeftBytes = 4096;

// Where no disk can be made to fill up: the real file system, except that a
// store fails as the real one does when the disk is full.
class FullDisk final : public FileSystemPort
{
public:
    CardEntries searchCardEntries(std::string_view folder, char letter) override
    {
        return m_real.searchCardEntries(folder, letter);
    }
    bool isDirectory(std::string_view path) override { return m_real.isDirectory(path); }
    FileStamp fileStamp(std::string_view path) noexcept override { return m_real.fileStamp(path); }
    std::unique_ptr<StagedFile> stageFile(std::string_view path) override
    {
        class Full final : public StagedFile
        {
        public:
            explicit Full(std::string_view path) : m_path(path) {}
            void write(std::string_view) override
            {
                throw RunError(ErrorNumber::CardFile,
                               "cannot store '" + m_path +
                                   "': cannot write: " + systemErrorText(ENOSPC));
            }
            void close() override {}
            void commit() override { write({}); }
            std::string temporaryPath() const override { return {}; } // nothing is ever written

        private:
            std::string m_path;
        };
        return std::make_unique<Full>(path);
    }
    std::unique_ptr<LogFile> createLog(std::string_view path) override
    {
        return m_real.createLog(path);
    }
    char separatorFor(std::string_view folder) const noexcept override
    {
        return m_real.separatorFor(folder);
    }

private:
    LocalFileSystem m_real;
};

// Leaves `room` bytes free on the file system that holds `folder`.
void fillUp(const std::filesystem::path& folder, std::size_t room)
{
    struct statvfs disk = {};
    ASSERT_EQ(::statvfs(folder.c_str(), &disk), 0);
    const std::size_t free = disk.f_bavail * disk.f_frsize;
    ASSERT_GT(free, room);
    std::ofstream(folder / "filler", std::ios::binary) << std::string(free - room, 'f');
}

TEST_F(FaultTest, AFullDiskKeepsTheOldCardFileAndTheErrorNamesItsPath)
{
    dir.makeFolder("Data");
    std::optional<ScopedMount> smallDisk;
    if (testing::mountsAvailable()) {
        smallDisk.emplace(ScopedMount::tmpfs(data(), kSmallDiskBytes));
    }
    dir.write("Data/A1/A1.xml", "<card/>");
    dir.write("Data/A1/A1_full.png", kStubPng);
    if (smallDisk) {
        fillUp(data(), kRoomLeftBytes);
    }
    const FileTree before = library();

    std::string message;
    if (smallDisk) {
        const auto result = runCli(cliArguments());
        EXPECT_EQ(result.exitStatus, 2);
        message = result.err;
    } else {
        FullDisk fullDisk;
        try {
            runCore({"KEY", "USER", data()}, fullDisk);
            ADD_FAILURE() << "the run went on with a full disk";
        } catch (const RunError& error) {
            message = "kqget-cli: error " + std::to_string(error.code()) + ": " + error.what();
        }
    }

    EXPECT_THAT(message, HasSubstr("kqget-cli: error 30: cannot store '" + dataFolder() +
                                   "A1/A1_full.png': "));
    EXPECT_THAT(message, HasSubstr(": No space left on device"));
    expectSameTree(library(), before);
    EXPECT_EQ(log(), expectedLog()
                         .card("A1")
                         .xmlSize("A1", 7)
                         .pngSize("A1", kStubPng.size())
                         .storeFailed(imageUrl("A1"), message)
                         .text());
}

// Temporary files go in the data folder, on its file system; a card folder
// that is a link to another disk gets its file beside it instead, so that the
// rename that puts it in place stays whole.
TEST_F(FaultTest, ACardFolderOnAnotherDiskGetsWholeFilesAndNoTemporaryIsLeft)
{
    if (!testing::mountsAvailable()) {
        GTEST_SKIP() << testing::mountsUnavailable();
    }
    const auto other = dir.makeFolder("other");
    const ScopedMount disk = ScopedMount::tmpfs(other, kSmallDiskBytes);
    dir.makeFolder("other/A1");
    dir.makeFolder("Data/A2");
    std::filesystem::create_directory_symlink(other / "A1", dir.path() / "Data" / "A1");

    const auto result = runCli(cliArguments());

    EXPECT_EQ(result.exitStatus, 0) << result.err;
    expectSameTree(testing::fileTree(other),
                   {{"A1/A1.xml", xmlOf("A1")}, {"A1/A1_full.png", pngOf("A1")}});
    expectSameTree(library(), {{"A1", "-> " + (other / "A1").string()},
                               {"A2/A2.xml", xmlOf("A2")},
                               {"A2/A2_full.png", pngOf("A2")}});
}

// What a run that cannot create its log must leave: nothing touched, nothing
// fetched, and an error that names the log, its folder and what to do.
void expectNoLog(const testing::ChildResult& result, const testing::CardService& service,
                 const std::filesystem::path& folder, std::string_view reason)
{
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err,
              "kqget-cli: error 20: cannot create run log 'KQ-GET-PNG-XML.txt' in the folder '" +
                  folder.string() + "': " + std::string(reason) +
                  "; start kqget from a folder you can write to\n");
    EXPECT_EQ(result.out, "");
    EXPECT_THAT(service.requests(), ::testing::IsEmpty());
}

TEST_F(FaultTest, ALogPathThatIsAFolderEndsTheRunBeforeAnyFetch)
{
    makeLibrary();
    dir.makeFolder("KQ-GET-PNG-XML.txt");
    const FileTree before = library();

    expectNoLog(runCli(cliArguments()), *service, dir.path(), "Is a directory");
    expectSameTree(library(), before);
}

TEST_F(FaultTest, AReadOnlyWorkingFolderEndsTheRunBeforeAnyFetch)
{
    if (!testing::mountsAvailable()) {
        GTEST_SKIP() << testing::mountsUnavailable();
    }
    makeLibrary();
    const auto readOnly = dir.makeFolder("read-only");
    const ScopedMount mount = ScopedMount::readOnly(readOnly, readOnly);
    const FileTree before = library();
    ChildOptions options;
    options.arguments = cliArguments();
    options.workingDirectory = readOnly.string();

    expectNoLog(runCliWith(options), *service, readOnly, "Read-only file system");
    expectSameTree(library(), before);
}

TEST_F(FaultTest, ADataFolderThatCannotBeSearchedEndsTheRunWithAnEmptyLog)
{
    dir.write("Data/plain-file", "not a folder");
    const struct
    {
        std::string typed;
        std::string reason;
    } cases[] = {
        {data() + "/absent", "No such file or directory"},
        {data() + "/plain-file", "Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto result = runCli({"--key", "KEY", "--user", "USER", "--data", c.typed});
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.err, "kqget-cli: error 10: cannot search data folder '" + c.typed +
                                  "/': " + c.reason + "\n");
        EXPECT_EQ(log(), "");
    }
    EXPECT_THAT(service->requests(), ::testing::IsEmpty());
}

TEST_F(FaultTest, ACardFolderThatVanishesMidRunIsPassedOverOrNamedInTheError)
{
    const struct
    {
        const char* name;
        const char* vanishing;
        bool completes;
    } cases[] = {
        {"a card not yet visited", "A2", true},
        {"the card being fetched", "A1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(data());
        dir.makeFolder("Data/A1");
        dir.makeFolder("Data/A2");
        service = std::make_unique<testing::CardService>(); // no requests from the last case
        // A1's illustration is held back until the folder is gone.
        service->addFault("/A1/illustrations", {.heldUntilReleased = true});
        bool removed = false;

        // One job: a walk running ahead would have seen A2 in place already.
        std::vector<std::string> arguments = cliArguments();
        arguments.insert(arguments.end(), {"--jobs", "1"});
        const auto result = runCli(arguments, {}, [&](int) {
            if (!removed && fetchBegun("/A1/illustrations")) {
                std::filesystem::remove_all(dir.path() / "Data" / c.vanishing);
                removed = true;
                service->releaseHeld();
            }
        });

        ASSERT_TRUE(removed);
        auto expected = expectedLog()
                            .card("A1")
                            .xmlSize("A1", 0)
                            .fetched(infoUrl("A1"), xmlOf("A1").size())
                            .pngSize("A1", 0);
        if (c.completes) {
            EXPECT_EQ(result.exitStatus, 0) << result.err;
            EXPECT_EQ(log(), expected.fetched(imageUrl("A1"), pngOf("A1").size()).text());
            expectSameTree(library(),
                           {{"A1/A1.xml", xmlOf("A1")}, {"A1/A1_full.png", pngOf("A1")}});
        } else {
            // That card's own failure: the next card is repaired all the same.
            const std::string failure = "cannot store '" + dataFolder() +
                                        "A1/A1_full.png': cannot rename its temporary file over "
                                        "it: No such file or directory";
            EXPECT_EQ(result.exitStatus, 1) << result.err;
            EXPECT_THAT(result.out, HasSubstr(failure));
            EXPECT_EQ(log(), expected.notStored(imageUrl("A1"), failure)
                                 .card("A2")
                                 .xmlSize("A2", 0)
                                 .fetched(infoUrl("A2"), xmlOf("A2").size())
                                 .pngSize("A2", 0)
                                 .fetched(imageUrl("A2"), pngOf("A2").size())
                                 .text());
            expectSameTree(library(),
                           {{"A2/A2.xml", xmlOf("A2")}, {"A2/A2_full.png", pngOf("A2")}});
        }
    }
}

} // namespace
} // namespace kqget
