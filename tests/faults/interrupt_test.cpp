// Ctrl-C at the two moments that matter: while a fetch waits on a server that
// sends nothing, and while a body is being stored. Either way the run ends
// with status 130, the log closed, no file half-written and no temporary file
// left. A kill nothing catches at that moment leaves its temporary file to the
// next run, which removes it.
#include "tests/faults/fault_test_fixture.h"
#include "tests/support/posix/open_gate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

namespace kqget {
namespace {

using namespace std::chrono_literals;
using testing::ChildOptions;
using testing::expectSameTree;
using testing::FaultTest;
using testing::FileTree;
using ::testing::HasSubstr;
using testing::OpenGate;

TEST_F(FaultTest, CtrlCDuringAStalledFetchEndsTheRunWithoutWaitingForTheTimeOut)
{
    makeLibrary();
    const FileTree before = library();
    // The service answers A2's illustration never; only Ctrl-C ends the wait
    // before kqget-cli's own time-out of a minute.
    service->addFault("/A2/illustrations", {.delay = 1h});
    bool sent = false;
    ChildOptions options;
    options.arguments = cliArguments();
    // One fetch at a time, so that A2's illustration is asked for only once
    // everything before it is applied, and the log's end is known.
    options.arguments.insert(options.arguments.end(), {"--jobs", "1"});
    options.timeout = 30s;
    options.whileRunning = [&](int pid) {
        if (!sent && fetchBegun("/A2/illustrations")) {
            ::kill(pid, SIGINT);
            sent = true;
        }
    };

    const auto result = runCliWith(options);

    EXPECT_EQ(result.exitStatus, 130) << result.err;
    EXPECT_THAT(result.err, HasSubstr("kqget-cli: interrupted"));
    EXPECT_EQ(withoutWallTime(result.out), "Cards checked: 2\nFiles fetched: 3\nFiles not stored: "
                                           "0\nFiles still too small: 0\nLog: " +
                                               logPath() + "\n");
    EXPECT_EQ(log(), logUpToA2Illustration().text());
    expectSameTree(library(), libraryUpToA2Illustration(before));
}

TEST_F(FaultTest, StoppedWhileABodyIsStoredTheRunLeavesWholeFilesOnly)
{
    std::string why;
    if (!OpenGate::supported(why)) {
        GTEST_SKIP() << why;
    }
    for (const int signal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove_all(data());
        dir.makeFolder("Data/A1");
        dir.makeFolder("Data/A2");
        bool sent = false;
        testing::ChildResult result;
        {
            // kqget-cli waits in the kernel as it creates the file that A1.xml's
            // body goes into at its turn, unnamed in A1 or named in the data
            // folder where the file system has no unnamed files; the signal
            // arrives exactly then.
            OpenGate inData(dir.path() / "Data");
            OpenGate inCard(dir.path() / "Data/A1");
            ChildOptions options;
            options.arguments = cliArguments();
            options.whileRunning = [&](int pid) {
                const auto onOpen = [&](const std::filesystem::path& opened) {
                    const std::string name = opened.filename().string();
                    if (!sent && name != "A1.xml" && name != "A1_full.png") {
                        ::kill(pid, signal);
                        sent = true;
                    }
                };
                inData.serve(onOpen);
                inCard.serve(onOpen);
            };
            result = runCliWith(options);
        }
        ASSERT_TRUE(sent);
        if (signal == SIGKILL) {
            // Nothing, or a temporary file in the data folder, is left behind;
            // the next run, with nothing to fetch, removes it.
            EXPECT_EQ(result.exitStatus, 128 + SIGKILL);
            for (const auto& [path, content] : library()) {
                EXPECT_TRUE(path.starts_with(".kqget-")) << path;
            }
            const FileTree whole = {{"A1/A1.xml", "<card/>"},
                                    {"A1/A1_full.png", pngOf("A1")},
                                    {"A2/A2.xml", "<card/>"},
                                    {"A2/A2_full.png", pngOf("A2")}};
            for (const auto& [path, content] : whole) {
                dir.write("Data/" + path, content);
            }
            service = std::make_unique<testing::CardService>(); // its requests from nothing
            EXPECT_EQ(runCli(cliArguments()).exitStatus, 0);
            expectSameTree(library(), whole);
            EXPECT_THAT(service->requests(), ::testing::IsEmpty()) << "a fetch after the kill";
            continue;
        }
        EXPECT_EQ(result.exitStatus, 130) << result.err;
        EXPECT_EQ(log(), expectedLog()
                             .card("A1")
                             .xmlSize("A1", 0)
                             .fetched(infoUrl("A1"), xmlOf("A1").size())
                             .pngSize("A1", 0)
                             .text());
        expectSameTree(library(), {{"A1/A1.xml", xmlOf("A1")}});
        service = std::make_unique<testing::CardService>(); // its requests from nothing
    }
}

} // namespace
} // namespace kqget
