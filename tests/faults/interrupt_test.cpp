// Ctrl-C at the two moments that matter: while a fetch waits on a server that
// sends nothing, and while a body is being written beside its card file.
// Either way the run ends with status 130, the log closed, no file
// half-written and no temporary file left.
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

TEST_F(FaultTest, CtrlCWhileABodyIsStoredEndsWithThatFileWholeAndNoTemporaryFile)
{
    std::string why;
    if (!OpenGate::supported(why)) {
        GTEST_SKIP() << why;
    }
    dir.makeFolder("Data/A1");
    dir.makeFolder("Data/A2");
    bool sent = false;
    testing::ChildResult result;
    {
        // kqget-cli waits in the kernel as it creates the file that A1.xml's
        // body goes into at its turn; Ctrl-C arrives exactly then.
        OpenGate gate(dir.path() / "Data");
        ChildOptions options;
        options.arguments = cliArguments();
        options.whileRunning = [&](int pid) {
            gate.serve([&](const std::filesystem::path& opened) {
                if (!sent && opened.filename().string().starts_with(".kqget-")) {
                    ::kill(pid, SIGINT);
                    sent = true;
                }
            });
        };
        result = runCliWith(options);
    }

    ASSERT_TRUE(sent);
    EXPECT_EQ(result.exitStatus, 130) << result.err;
    EXPECT_EQ(log(), expectedLog()
                         .card("A1")
                         .xmlSize("A1", 0)
                         .fetched(infoUrl("A1"), xmlOf("A1").size())
                         .pngSize("A1", 0)
                         .text());
    expectSameTree(library(), {{"A1/A1.xml", xmlOf("A1")}});
}

} // namespace
} // namespace kqget
