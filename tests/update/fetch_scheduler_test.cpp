#include "update/fetch_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kqget {
namespace {

using namespace std::chrono_literals;

// Answers nothing by itself: the test finishes the fetches it started.
class HeldTransfer final : public TransferPort
{
public:
    void start(FetchTicket ticket, std::string_view, std::shared_ptr<BodySink>) override
    {
        underWay.push_back(ticket);
    }
    std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds) override { return {}; }
    void abandonAll() noexcept override { underWay.clear(); }

    std::vector<FetchTicket> underWay;
};

TEST(FetchSchedulerTest, ARateLimitedHostsShareGrowsBackToEveryJob)
{
    constexpr std::size_t kJobs = 16;
    constexpr FetchTicket kFetches = 300;
    const FetchScheduler::Clock::time_point now{};
    FetchScheduler scheduler(kJobs);
    HeldTransfer transfer;
    for (FetchTicket ticket = 1; ticket <= kFetches; ++ticket) {
        scheduler.add(ticket, "http://h/" + std::to_string(ticket), "http://h", nullptr);
    }
    scheduler.startDue(transfer, now);
    ASSERT_EQ(transfer.underWay.size(), kJobs);

    // Four replies in a row ask for a pause of no length: the share falls to one.
    for (int i = 0; i < 4; ++i) {
        const FetchTicket ticket = transfer.underWay.front();
        transfer.underWay.erase(transfer.underWay.begin());
        EXPECT_FALSE(scheduler.finished({ticket, FetchResult{503, false, 0s}}, now));
    }
    std::size_t least = kJobs;
    std::size_t mostAfterLeast = 0;
    std::size_t final = 0;
    while (!transfer.underWay.empty()) {
        const std::vector<FetchTicket> round = std::exchange(transfer.underWay, {});
        for (const FetchTicket ticket : round) {
            final += scheduler.finished({ticket, FetchResult{200}}, now) ? 1 : 0;
        }
        scheduler.startDue(transfer, now);
        if (transfer.underWay.empty()) {
            break;
        }
        least = std::min(least, transfer.underWay.size());
        if (least == 1) {
            mostAfterLeast = std::max(mostAfterLeast, transfer.underWay.size());
        }
    }
    EXPECT_EQ(final, kFetches); // the four were asked again and answered
    EXPECT_EQ(least, 1u);
    EXPECT_EQ(mostAfterLeast, kJobs);
}

} // namespace
} // namespace kqget
