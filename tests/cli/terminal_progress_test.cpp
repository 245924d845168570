#include "cli/terminal_progress.h"

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

TEST_F(TerminalProgressTest, ShowsCountsRateTimeLeftAndTheCardNeverTheUrl)
{
    TerminalProgress progress(m_file.get(), nullptr, [this] { return now; });
    RunTally tally;
    tally.cardsChecked = 3;
    progress.tallyChanged(tally);
    now += std::chrono::seconds(1);
    const std::string card = "A\x1b";
    progress.fetchApplied({.cardId = card,
                           .path = "/lib/" + card + "/" + card + "_full.png",
                           .url = "http://x/bof.php?mlunkey=SECRET",
                           .filesApplied = 3,
                           .filesQueued = 2,
                           .filesTotal = 10});
    EXPECT_EQ(written(),
              "\r3 cards, 0 fetched, 0 queued\x1b[K"
              "\r3 cards, 3/10 fetched, 2 queued, 3.0/s, 2.3 s left: A\\x1B_full.png\x1b[K");
}

TEST(TerminalProgressOff, WritesNothingAndPassesStopRequestsOn)
{
    bool stop = false;
    TerminalProgress progress(nullptr, [&stop] { return stop; });
    progress.tallyChanged(RunTally{});
    progress.fetchApplied(
        {.cardId = "A1", .path = "A1.xml", .url = "http://x/", .filesApplied = 1});
    progress.runEnded(RunTally{});
    EXPECT_FALSE(progress.stopRequested());
    stop = true;
    EXPECT_TRUE(progress.stopRequested());
}

} // namespace
} // namespace kqget
