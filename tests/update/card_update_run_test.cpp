#include "tests/support/expected_urls.h"
#include "tests/support/fake_ports.h"
#include "update/card_update_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <mutex>
#include <thread>

namespace kqget {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const ServiceHosts kHosts{"http://info.test", "http://img.test"};

std::string infoUrl(std::string_view card, std::string_view key = "KEY",
                    std::string_view user = "USER")
{
    return kHosts.infoBase + testing::infoPath(card, key, user);
}

std::string imageUrl(std::string_view card)
{
    return kHosts.imageBase + testing::imagePath(card);
}

class CardUpdateRunTest : public ::testing::Test
{
protected:
    CardUpdateRunTest() { files.addFolder("/data/"); }

    // A card whose files are both in order.
    void addGoodCard(const std::string& id)
    {
        files.addFolder("/data/" + id);
        files.addFile("/data/" + id + "/" + id + ".xml", "<card/>");
        files.addFile("/data/" + id + "/" + id + "_full.png", std::string(12000, 'p'));
    }

    RunTally run(std::string key = "KEY", std::string user = "USER", std::string folder = "/data/")
    {
        CardUpdateRun job(progress, files, transfer, options, kHosts, "run.log");
        return job.run({std::move(key), std::move(user), std::move(folder)});
    }

    std::vector<std::string> logLines() const
    {
        std::vector<std::string> lines;
        std::string_view rest = files.log;
        while (!rest.empty()) {
            const auto end = rest.find("\r\n");
            EXPECT_NE(end, std::string_view::npos) << "unterminated line: " << rest;
            if (end == std::string_view::npos) {
                break;
            }
            lines.emplace_back(rest.substr(0, end));
            rest.remove_prefix(end + 2);
        }
        return lines;
    }

    testing::RecordingProgress progress;
    testing::MemoryFileSystem files;
    testing::ScriptedTransfer transfer;
    RunOptions options;
};

TEST_F(CardUpdateRunTest, LogsAFetchedCardAsFiveLines)
{
    files.addFolder("/data/A0001");
    run();

    const std::string xmlBody = testing::scriptedBody(infoUrl("A0001"));
    const std::string pngBody = testing::scriptedBody(imageUrl("A0001"));
    EXPECT_THAT(logLines(), ElementsAre("A0001", "/data/A0001/A0001.xml size 0",
                                        "Download File: " + infoUrl("A0001") + " New size " +
                                            std::to_string(xmlBody.size()),
                                        "/data/A0001/A0001_full.png size 0",
                                        "Download File: " + imageUrl("A0001") + " New size " +
                                            std::to_string(pngBody.size())));
    EXPECT_EQ(files.files["/data/A0001/A0001.xml"], xmlBody);
    EXPECT_EQ(files.files["/data/A0001/A0001_full.png"], pngBody);
    EXPECT_EQ(files.logPath, "run.log");
    EXPECT_TRUE(files.logClosed);
}

TEST_F(CardUpdateRunTest, CardInOrderGetsThreeLinesAndNoFetch)
{
    addGoodCard("B0002");
    const RunTally tally = run();

    EXPECT_THAT(logLines(), ElementsAre("B0002", "/data/B0002/B0002.xml size 7",
                                        "/data/B0002/B0002_full.png size 12000"));
    EXPECT_THAT(transfer.requested, IsEmpty());
    EXPECT_EQ(tally.cardsChecked, 1u);
    EXPECT_EQ(tally.filesStored, 0u);
}

TEST_F(CardUpdateRunTest, FetchesOnlyBelowTheThresholds)
{
    const struct
    {
        std::size_t xmlSize;
        std::size_t pngSize;
        bool xmlFetched;
        bool pngFetched;
    } cases[] = {
        {0, 11000, true, false}, {1, 11000, false, false}, {1, 10999, false, true},
        {1, 0, false, true},     {0, 0, true, true},       {5, 250000, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "xml " << c.xmlSize << ", png " << c.pngSize);
        files.files.clear();
        transfer.requested.clear();
        files.addFolder("/data/C7");
        files.addFile("/data/C7/C7.xml", std::string(c.xmlSize, 'x'));
        if (c.pngSize != 0) {
            files.addFile("/data/C7/C7_full.png", std::string(c.pngSize, 'p'));
        }
        run();
        std::vector<std::string> expected;
        if (c.xmlFetched) {
            expected.push_back(infoUrl("C7"));
        }
        if (c.pngFetched) {
            expected.push_back(imageUrl("C7"));
        }
        EXPECT_EQ(transfer.requested, expected);
    }
}

TEST_F(CardUpdateRunTest, VisitsFoldersOfLettersAToDOnlyAndSkipsPlainFiles)
{
    for (const char* id : {"E0001", "D0004", "A0001", "Z1", "C0003", "b0002", "10000"}) {
        addGoodCard(id);
    }
    files.addFile("/data/B1234", "a plain file named like a card");

    const RunTally tally = run();

    std::vector<std::string> cards;
    for (const auto& line : logLines()) {
        if (line.find('/') == std::string::npos) {
            cards.push_back(line);
        }
    }
    EXPECT_THAT(cards, ElementsAre("A0001", "b0002", "C0003", "D0004"));
    EXPECT_EQ(tally.cardsChecked, 4u);
}

TEST_F(CardUpdateRunTest, TrimsSpacesAndKeepsInnerOnesInTheUrl)
{
    files.addFolder("/data/A1");
    files.addFile("/data/A1/A1_full.png", std::string(11000, 'p'));
    run("  K E Y ", " a user  ", "  /data/  ");

    // Asked for with the inner spaces encoded; logged as typed.
    EXPECT_THAT(transfer.requested, ElementsAre(infoUrl("A1", "K%20E%20Y", "a%20user")));
    EXPECT_THAT(files.log,
                ::testing::HasSubstr("Download File: " + infoUrl("A1", "K E Y", "a user")));
    // The folder already ended in its separator once trimmed: no write-back.
    for (const auto& call : progress.calls) {
        EXPECT_FALSE(call.starts_with("dataFolder ")) << call;
    }
}

TEST_F(CardUpdateRunTest, EmptyDataFolderBecomesTheRootAndIsRefusedBeforeTheLog)
{
    files.addFolder("/");
    files.addFolder("/A1");
    try {
        run("KEY", "USER", "   ");
        FAIL() << "the root should have been refused";
    } catch (const RunError& error) {
        EXPECT_EQ(error.number(), ErrorNumber::DataFolder);
        EXPECT_THAT(error.what(), ::testing::HasSubstr("'/' is the root of the file system"));
    }
    EXPECT_THAT(progress.calls, ElementsAre("started", "dataFolder /"));
    EXPECT_EQ(files.logPath, "");
    EXPECT_THAT(transfer.requested, IsEmpty());
}

TEST_F(CardUpdateRunTest, NoCardsLeavesAnEmptyLogAndEndsDone)
{
    files.addFolder("/data/E1");
    const RunTally tally = run();

    EXPECT_EQ(files.log, "");
    EXPECT_TRUE(files.logClosed);
    EXPECT_THAT(progress.calls, ElementsAre("started", "ended"));
    EXPECT_FALSE(tally.stopped);
}

TEST_F(CardUpdateRunTest, ErrorStatusesAndOversizeBodiesAreNotStored)
{
    files.addFolder("/data/A1");
    files.addFile("/data/A1/A1_full.png", "old");
    transfer.replies[infoUrl("A1")] = {404, "<html>not found</html>", false};
    transfer.replies[imageUrl("A1")] = {200, "", true};

    const RunTally tally = run();

    EXPECT_THAT(logLines(), ElementsAre("A1", "/data/A1/A1.xml size 0",
                                        "Download File: " + infoUrl("A1") + " Not stored: HTTP 404",
                                        "/data/A1/A1_full.png size 3",
                                        "Download File: " + imageUrl("A1") +
                                            " Not stored: response over 64 MiB"));
    EXPECT_FALSE(files.files.contains("/data/A1/A1.xml"));
    EXPECT_EQ(files.files["/data/A1/A1_full.png"], "old");
    ASSERT_EQ(tally.notStored.size(), 2u);
    EXPECT_EQ(tally.notStored[0].reason, "HTTP 404");
    EXPECT_EQ(tally.notStored[0].path, "/data/A1/A1.xml");
    EXPECT_EQ(tally.notStored[1].url, imageUrl("A1"));
    EXPECT_EQ(tally.filesStored, 0u);
}

TEST_F(CardUpdateRunTest, SuccessfulEmptyBodyIsNoCardFileAndNotStored)
{
    files.addFolder("/data/A1");
    files.addFile("/data/A1/A1.xml", "x");
    transfer.replies[imageUrl("A1")] = {200, "", false};
    const RunTally tally = run();

    EXPECT_EQ(logLines().back(),
              "Download File: " + imageUrl("A1") + " Not stored: not a PNG image");
    EXPECT_FALSE(files.files.contains("/data/A1/A1_full.png"));
    EXPECT_EQ(tally.filesStored, 0u);
}

TEST_F(CardUpdateRunTest, FailureEndsTheRunWithTheLogClosedAndNoDoneWrites)
{
    addGoodCard("A1");
    files.addFolder("/data/B2");
    transfer.failAll = true;

    try {
        run();
        FAIL() << "the run should have failed";
    } catch (const RunError& error) {
        EXPECT_EQ(error.number(), ErrorNumber::Transfer);
        // The message is for the screen: it names the URL with the key hidden.
        EXPECT_THAT(error.what(), ::testing::HasSubstr("mlunkey=…&mlunusername=USER&cardids=B2"));
        EXPECT_THAT(error.what(), ::testing::Not(::testing::HasSubstr("KEY")));
    }
    EXPECT_TRUE(files.logClosed);
    EXPECT_THAT(logLines(),
                ElementsAre("A1", "/data/A1/A1.xml size 7", "/data/A1/A1_full.png size 12000", "B2",
                            "/data/B2/B2.xml size 0"));
    EXPECT_THAT(progress.calls, ::testing::Not(::testing::Contains("ended")));
}

TEST_F(CardUpdateRunTest, StoreFailureEndsTheRun)
{
    files.addFolder("/data/A1");
    files.failReplace = true;
    EXPECT_THROW(run(), RunError);
    EXPECT_TRUE(files.logClosed);
    // The log's last line is whole, and says why.
    EXPECT_TRUE(files.log.ends_with("Download File: " + infoUrl("A1") +
                                    " Not stored: cannot store '/data/A1/A1.xml'\r\n"))
        << files.log;
}

TEST_F(CardUpdateRunTest, MissingDataFolderIsAFailureNotAnEmptyRun)
{
    try {
        run("KEY", "USER", "/nowhere");
        FAIL() << "the run should have failed";
    } catch (const RunError& error) {
        EXPECT_EQ(error.number(), ErrorNumber::DataFolder);
        EXPECT_THAT(error.what(), ::testing::HasSubstr("/nowhere/"));
    }
    EXPECT_EQ(files.logPath, "") << "the last run's log must survive a mistyped folder";
}

TEST_F(CardUpdateRunTest, StopRequestEndsBeforeTheNextFetch)
{
    files.addFolder("/data/A1");
    files.addFolder("/data/A2");
    options.jobs = 1; // with more, later fetches are under way and abandoned
    progress.onCall = [this] {
        if (!transfer.requested.empty()) {
            progress.stop = true;
        }
    };
    const RunTally tally = run();

    EXPECT_TRUE(tally.stopped);
    EXPECT_THAT(transfer.requested, ElementsAre(infoUrl("A1")));
    EXPECT_TRUE(files.logClosed);
    EXPECT_TRUE(files.log.ends_with("\r\n"));
    EXPECT_EQ(progress.calls.back(), "stopped");
}

TEST_F(CardUpdateRunTest, SecondRunReplacesTheFirstRunsLog)
{
    addGoodCard("A1");
    run();
    files.folders.erase("/data/A1");
    addGoodCard("D9");
    run();
    EXPECT_EQ(logLines().front(), "D9");
    EXPECT_EQ(logLines().size(), 3u);
}

} // namespace
} // namespace kqget

namespace kqget {
namespace {

// Counts its looks into each file, and those made on the run's own thread.
class CountingCheck final : public ContentCheckPort
{
public:
    std::optional<std::string> fileDamage(std::string_view path, CardFileKind) const override
    {
        const std::lock_guard lock(m_mutex);
        auto& [all, onRun] = looks[std::string(path)];
        ++all;
        onRun += std::this_thread::get_id() == m_runThread ? 1 : 0;
        return std::nullopt;
    }
    mutable std::map<std::string, std::pair<int, int>> looks;

private:
    mutable std::mutex m_mutex;
    std::thread::id m_runThread = std::this_thread::get_id();
};

// Under --verify the files are looked into ahead of their turn, by the run's
// own walk: the data folder is listed and each file sized as often as without
// it, however many files there are. A verdict reached ahead counts only for a
// file that has not changed since before its look began.
TEST_F(CardUpdateRunTest, VerifyLooksAheadWithTheRunsOwnListingAndSizes)
{
    constexpr int kCards = 60; // more files than are looked into ahead at once
    for (int i = 1; i <= kCards; ++i) {
        addGoodCard("A" + std::to_string(i));
    }
    const struct
    {
        std::int64_t changed; // of every file
        int looks;            // into each file in all; 0: one at its turn, one or none ahead
        bool ahead;           // looked into ahead
    } cases[] = {
        {1, 1, true},                                        // before any look
        {std::numeric_limits<std::int64_t>::max(), 0, true}, // since
        {0, 1, false},                                       // untold
    };
    for (const std::size_t jobs : {1, 4}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(jobs) + " jobs, changed " + std::to_string(c.changed));
            files.changed = c.changed;
            options = {.jobs = jobs};
            files.listings = files.sizeQueries = 0;
            run();
            const std::pair plain(files.listings, files.sizeQueries);
            CountingCheck check;
            options.verify = &check;
            files.listings = files.sizeQueries = 0;
            run();
            EXPECT_EQ(std::pair(files.listings, files.sizeQueries), plain);
            ASSERT_EQ(check.looks.size(), 2u * kCards);
            int ahead = 0;
            for (const auto& [path, counts] : check.looks) {
                EXPECT_EQ(c.looks == 0 ? counts.second : counts.first, 1) << path;
                ahead += counts.first - counts.second;
            }
            EXPECT_EQ(ahead > kCards, c.ahead) << ahead;
        }
    }
}

} // namespace
} // namespace kqget
