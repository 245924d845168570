// Whole runs against a service that misbehaves. Whatever the reply, the run
// completes or ends with an error that names the URL and the cause; no card
// file is replaced by junk or left half-written, no temporary file stays, and
// the log holds every line written before the end.
#include "tests/faults/fault_test_fixture.h"
#include "update/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace kqget {
namespace {

using namespace std::chrono_literals;
using testing::CardService;
using testing::ChildOptions;
using testing::expectSameTree;
using testing::Fault;
using testing::FaultTest;
using testing::FileTree;
using ::testing::HasSubstr;

// The fetch at which the service fails: the library's fourth.
constexpr std::string_view kA2Illustration = "/A2/illustrations";
constexpr std::chrono::hours kForever{1}; // the service's waits end when it stops

int deadPort()
{
    return CardService().port();
}

bool networkCanBeIsolated()
{
    ChildOptions options;
    options.arguments = {"--net", "/bin/true"};
    return testing::runChild("/usr/bin/unshare", options).exitStatus == 0;
}

TEST_F(FaultTest, AFailedFetchEndsTheRunWithTheLibraryWholeAndTheLogComplete)
{
    const std::string deadProxy = "http://127.0.0.1:" + std::to_string(deadPort());
    const struct
    {
        const char* name;
        std::optional<Fault> fault; // on A2's illustration
        std::string proxy;          // when not the service
        std::string message;
    } cases[] = {
        {"connection dropped mid-body",
         Fault{.dropMidBody = true},
         {},
         "error 40: cannot fetch " + imageUrl("A2") + ": curl error 18: "},
        {"redirect loop",
         Fault{.redirectLoop = true},
         {},
         "error 42: cannot fetch " + imageUrl("A2") + ": curl error 47: "},
        {"connection refused", std::nullopt, deadProxy,
         "error 40: cannot fetch " + shownInfoUrl("A1") + ": cannot reach the proxy " + deadProxy +
             " (from http_proxy): curl error 7: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FileTree before = resetLibrary();
        if (c.fault) {
            service->addFault(std::string(kA2Illustration), *c.fault);
        }
        ChildOptions options;
        options.arguments = cliArguments();
        if (!c.proxy.empty()) {
            options.setEnv["http_proxy"] = c.proxy;
        }

        const auto result = runCliWith(options);

        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_THAT(result.err, HasSubstr("kqget-cli: " + c.message));
        // The summary of what came before the failure follows it.
        EXPECT_THAT(result.out,
                    ::testing::StartsWith(c.fault ? "Cards checked: 2\n" : "Cards checked: 1\n"));
        if (c.fault) {
            EXPECT_EQ(log(), logUpToA2Illustration().text());
            expectSameTree(library(), libraryUpToA2Illustration(before));
        } else {
            EXPECT_EQ(log(), expectedLog().card("A1").xmlSize("A1", 0).text());
            expectSameTree(library(), before);
        }
    }
}

TEST_F(FaultTest, AHostThatDoesNotResolveEndsTheRunAtItsFirstFetch)
{
    // In a network namespace of its own the lookup cannot leave the machine.
    if (!networkCanBeIsolated()) {
        GTEST_SKIP() << "cannot give kqget-cli a network namespace of its own here";
    }
    makeLibrary();
    const FileTree before = library();
    ChildOptions options;
    options.arguments = cliArguments();
    options.setEnv["http_proxy"] = ""; // straight to the configured host

    const auto result = runCliWith(options, {"/usr/bin/unshare", "--net", KQGET_CLI_PATH});

    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_THAT(result.err, HasSubstr("kqget-cli: error 40: cannot fetch " + shownInfoUrl("A1") +
                                      ": curl error 6: "));
    EXPECT_EQ(log(), expectedLog().card("A1").xmlSize("A1", 0).text());
    expectSameTree(library(), before);
}

// No reply holds a run for ever: silence, a trickle and a service that
// refuses everything each end it by themselves, with what was done kept.
TEST_F(FaultTest, NoReplyHoldsTheRunForEverButASlowSteadyBodyArrives)
{
    const std::string a2 = "cannot fetch " + imageUrl("A2") + ": ";
    const struct
    {
        const char* name;
        Fault fault;
        std::optional<std::string> ending; // none: the run completes
        std::chrono::milliseconds totalTimeout = 10min;
    } cases[] = {
        {"no byte at all",
         {.delay = kForever},
         "error 41: " + a2 + "no data received for 1000 ms (stall time-out)"},
        {"headers, then nothing",
         {.stallAfterHeaders = kForever},
         "error 41: " + a2 + "no data received for 1000 ms (stall time-out)"},
        // 20 KB/s, far above the pace that counts as a stall, for 50 s.
        {"a steady trickle",
         {.dripBytes = 1000, .dripPause = 50ms, .bodyBytes = 1'000'000},
         "error 41: " + a2 + "took longer than 2 seconds",
         2s},
        // On a clock that moves a minute each time the run reads it.
        {"429 to everything",
         {.status = 429, .retryAfter = "1"},
         "error 43: " + a2 + "the service keeps refusing (HTTP 429): try again later"},
        // About two seconds in all, never a tenth of the limit without a byte.
        {"slow but steady", {.dripBytes = 600, .dripPause = 100ms}, std::nullopt},
    };
    transferOptions.stallTimeout = 1s;
    // One fetch at a time: no other card's reply comes between the refusals.
    runOptions.jobs = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FileTree before = resetLibrary();
        service->addFault(std::string(kA2Illustration), c.fault);
        transferOptions.totalTimeout = c.totalTimeout;
        runOptions.now = [at = std::chrono::steady_clock::time_point{}]() mutable {
            return at += 1min;
        };
        const RunInputs inputs{"KEY", "USER", data()};

        std::string ending;
        try {
            EXPECT_EQ(runCore(inputs).filesStored, 4u);
        } catch (const RunError& error) {
            ending = "error " + std::to_string(error.code()) + ": " + error.what();
        }
        EXPECT_EQ(ending, c.ending.value_or(""));
        if (c.ending) {
            EXPECT_EQ(log(), logUpToA2Illustration().text());
            expectSameTree(library(), libraryUpToA2Illustration(before));
            continue;
        }
        FileTree after = libraryUpToA2Illustration(before);
        after["A2/A2_full.png"] = pngOf("A2");
        expectSameTree(library(), after);
        EXPECT_EQ(log(), logUpToA2Illustration()
                             .fetched(imageUrl("A2"), pngOf("A2").size())
                             .card("B1")
                             .xmlSize("B1", 7)
                             .pngSize("B1", kMinimumIllustrationSize)
                             .text());
    }
}

TEST_F(FaultTest, EveryKindOfReplyInOneRunIsStoredOrListedAndTheRunGoesOn)
{
    const struct
    {
        const char* card;
        Fault fault;
        std::optional<std::string> notStored; // the reason, when the reply is not stored
    } cases[] = {
        {"A1", {.status = 404}, "HTTP 404"},
        {"A2", {.status = 429}, "HTTP 429"},
        {"A3", {.status = 500}, "HTTP 500"},
        {"A4", {.status = 503}, "HTTP 503"},
        {"B1", {.oversizedBody = true}, "response over 64 MiB"},
        {"B2", {.redirectHops = 3}, std::nullopt},
        {"C1", {.cutAt = 5000}, std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string card(c.card);
        dir.write("Data/" + card + "/" + card + ".xml", "<card/>");
        dir.write("Data/" + card + "/" + card + "_full.png", kStubPng);
        service->addFault("/" + card + "/illustrations", c.fault);
    }
    FileTree expected = library();
    expected["B2/B2_full.png"] = pngOf("B2");                 // the content at the chain's end
    expected["C1/C1_full.png"] = pngOf("C1").substr(0, 5000); // whole as far as its size goes

    const auto result = runCli(cliArguments());

    EXPECT_EQ(result.exitStatus, 1) << result.err;
    expectSameTree(library(), expected);
    auto log = expectedLog();
    std::string summary = "Cards checked: 7\nFiles fetched: 2\nFiles not stored: 5\n";
    for (const auto& c : cases) {
        const std::string card(c.card);
        log.card(card).xmlSize(card, 7).pngSize(card, kStubPng.size());
        if (c.notStored) {
            log.notStored(imageUrl(card), *c.notStored);
            summary += "  " + imageUrl(card) + " (" + *c.notStored + ")\n";
        } else {
            log.fetched(imageUrl(card), expected[card + "/" + card + "_full.png"].size());
        }
    }
    EXPECT_EQ(this->log(), log.text());
    summary += "Files still too small: 1\n  " + imageUrl("C1") +
               " (5000 bytes; still too small: fetched again next run)\n";
    EXPECT_EQ(withoutWallTime(result.out), summary + "Log: " + logPath() + "\n");
}

} // namespace
} // namespace kqget
