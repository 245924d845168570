#include "cli/terminal_progress.h"
#include "tests/support/scoped_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace kqget {
namespace {

struct FileCloser
{
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

class TerminalProgressTest : public ::testing::Test
{
protected:
    std::string written()
    {
        std::fflush(m_file.get());
        return std::string(m_buffer, m_size);
    }

    TerminalProgress::Clock::time_point now{};
    char* m_buffer = nullptr;
    std::size_t m_size = 0;
    std::unique_ptr<std::FILE, FileCloser> m_file{open_memstream(&m_buffer, &m_size)};

    ~TerminalProgressTest() override
    {
        m_file.reset();
        std::free(m_buffer);
    }
};

TEST_F(TerminalProgressTest, RedrawsAtMostTenTimesASecond)
{
    const testing::ScopedEnvironment term("TERM", "xterm");
    TerminalProgress progress(m_file.get(), nullptr, [this] { return now; });
    RunTally tally;
    for (int i = 0; i < 50; ++i) {
        tally.cardsChecked = i + 1;
        progress.tallyChanged(tally);
        now += std::chrono::milliseconds(10); // 50 events over half a second
    }
    progress.finish();
    const std::string text = written();
    std::size_t draws = 0;
    for (std::size_t pos = 0; (pos = text.find(" cards", pos)) != std::string::npos; ++pos) {
        ++draws;
    }
    EXPECT_GE(draws, 4u);
    EXPECT_LE(draws, 6u);
    EXPECT_TRUE(text.ends_with("\r\x1b[K")) << "the line is cleared at the end";
}

// At any width the counts, the rate and the time left come first, the file's
// name gives way; the card, never the URL that holds the key.
TEST_F(TerminalProgressTest, ShowsCountsRateTimeLeftAndTheCardNeverTheUrl)
{
    const struct
    {
        std::size_t columns;
        std::size_t cards;
        std::string card;
        const char* term;
        std::string line;
    } cases[] = {
        {0, 3, "A\x1b", "xterm",
         "\r3 cards, 3/10 fetched, 2 queued, 3.0/s, 2.3 s left: A\\x1B_full.png\x1b[K"},
        {0, 1, "A1", "xterm",
         "\r1 card, 3/10 fetched, 2 queued, 3.0/s, 2.3 s left: A1_full.png\x1b[K"},
        {40, 3, "A0001", "xterm", "\r3/10 fetched, 3.0/s, 2.3 s left\x1b[K"},
        {45, 3, "A0001", "xterm", "\r3/10 fetched, 3.0/s, 2.3 s left: A0001…l.png\x1b[K"},
        {30, 3, "A0001", "xterm", "\r3/10, 3.0/s, 2.3 s left\x1b[K"},
        {12, 3, "A0001", "xterm", "\r3/10, 3.0/s\x1b[K"},
        {40, 3, "A0001", "dumb", "\r3/10 fetched, 3.0/s, 2.3 s left"},
        {40, 3, "A0001", nullptr, "\r3/10 fetched, 3.0/s, 2.3 s left"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.columns) + " columns, TERM " + (c.term ? c.term : "unset"));
        const testing::ScopedEnvironment term("TERM", c.term ? std::optional<std::string>(c.term)
                                                             : std::nullopt);
        m_file.reset();
        std::free(m_buffer);
        m_buffer = nullptr;
        m_file.reset(open_memstream(&m_buffer, &m_size));
        now = {};
        TerminalProgress progress(
            m_file.get(), nullptr, [this] { return now; }, c.columns);
        RunTally tally;
        tally.cardsChecked = c.cards;
        progress.tallyChanged(tally);
        const std::size_t before = written().size();
        now += std::chrono::seconds(1);
        progress.fetchApplied({.path = "/lib/" + c.card + "/" + c.card + "_full.png",
                               .url = "http://x/bof.php?mlunkey=SECRET",
                               .filesApplied = 3,
                               .filesQueued = 2,
                               .filesTotal = 10});
        EXPECT_EQ(written().substr(before), c.line);
    }
}

TEST(TerminalProgressOff, WritesNothingAndPassesStopRequestsOn)
{
    bool stop = false;
    TerminalProgress progress(nullptr, [&stop] { return stop; });
    progress.tallyChanged(RunTally{});
    progress.fetchApplied({.path = "A1.xml", .url = "http://x/", .filesApplied = 1});
    progress.runEnded(RunTally{});
    EXPECT_FALSE(progress.stopRequested());
    stop = true;
    EXPECT_TRUE(progress.stopRequested());
}

} // namespace
} // namespace kqget
