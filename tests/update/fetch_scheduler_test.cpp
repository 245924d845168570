#include "update/fetch_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
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

// One thing the run does, at a time on the test's own clock, and what the
// scheduler must answer.
struct Step
{
    enum class Kind
    {
        Start,  // startDue(), awaiting `ticket` when it is not 0
        Finish, // finished() with `status` (0: a failure with no reply)
        Drop,
        Refused, // refusedTooLong(): `status` refused, 0 none
    };
    Kind kind;
    std::chrono::milliseconds at{};
    FetchTicket ticket = 0;
    long status = 0;
    std::optional<std::chrono::seconds> retryAfter{};
    // Start: the tickets that go out, in order; Finish: whether it is final.
    std::vector<FetchTicket> started{};
    bool final = false;
};

Step startAt(std::chrono::milliseconds at, std::vector<FetchTicket> started,
             FetchTicket awaited = 0)
{
    return {.kind = Step::Kind::Start, .at = at, .ticket = awaited, .started = std::move(started)};
}

Step reply(std::chrono::milliseconds at, FetchTicket ticket, long status,
           std::optional<std::chrono::seconds> retryAfter, bool final)
{
    return {.kind = Step::Kind::Finish,
            .at = at,
            .ticket = ticket,
            .status = status,
            .retryAfter = retryAfter,
            .final = final};
}

Step dropAt(std::chrono::milliseconds at, FetchTicket ticket)
{
    return {.kind = Step::Kind::Drop, .at = at, .ticket = ticket};
}

Step refusedAt(std::chrono::milliseconds at, long status)
{
    return {.kind = Step::Kind::Refused, .at = at, .status = status};
}

constexpr bool kFinal = true;
constexpr bool kAgain = false; // held for a retry, or dropped: nothing for the run

TEST(FetchSchedulerTest, StartsRetriesAndDropsByTheTable)
{
    const auto none = std::nullopt;
    const struct
    {
        const char* name;
        std::size_t jobs;
        // Fetch n+1 on host origins[n].
        std::vector<std::string> origins;
        std::vector<Step> steps;
    } cases[] = {
        {"a rate-limited fetch is asked three more times, then its reply is final",
         1,
         {"a"},
         {startAt(0ms, {1}), reply(0ms, 1, 429, 0s, kAgain), startAt(0ms, {1}),
          reply(0ms, 1, 503, 0s, kAgain), startAt(0ms, {1}), reply(0ms, 1, 429, 0s, kAgain),
          startAt(0ms, {1}), reply(0ms, 1, 429, 0s, kFinal), startAt(0ms, {})}},
        {"a host waits out its quiet period while another goes on",
         2,
         {"a", "b", "b", "a"},
         {startAt(0ms, {1, 2}), reply(1000ms, 1, 503, 5s, kAgain), startAt(1000ms, {3}),
          reply(2000ms, 2, 200, none, kFinal), startAt(5999ms, {}), startAt(6000ms, {1})}},
        {"a second wait asked for during the first does not shorten it",
         2,
         {"a", "a", "a"},
         {startAt(0ms, {1, 2}), reply(0ms, 1, 429, 10s, kAgain), reply(1000ms, 2, 429, 1s, kAgain),
          startAt(9999ms, {}), startAt(10000ms, {1})}},
        {"a Retry-After over 60 s, or none, makes the reply final at once",
         3,
         {"a", "a", "b"},
         {startAt(0ms, {1, 2, 3}), reply(0ms, 1, 429, 61s, kFinal),
          reply(0ms, 2, 503, none, kFinal), reply(0ms, 3, 503, 60s, kAgain), startAt(59999ms, {}),
          startAt(60000ms, {3})}},
        {"a failure with no reply is final and never retried",
         1,
         {"a", "a"},
         {startAt(0ms, {1}), reply(0ms, 1, 0, none, kFinal), startAt(0ms, {2})}},
        {"the awaited fetch goes before earlier ones",
         1,
         {"a", "a", "a"},
         {startAt(0ms, {3}, 3), reply(0ms, 3, 200, none, kFinal), startAt(0ms, {1}),
          reply(0ms, 1, 200, none, kFinal), startAt(0ms, {2}, 1)}},
        {"the awaited fetch waits out its host's quiet period; another host's goes",
         2,
         {"a", "a", "b"},
         {startAt(0ms, {1, 2}, 1), reply(0ms, 1, 429, 2s, kAgain), startAt(0ms, {3}, 1),
          reply(1000ms, 2, 200, none, kFinal), startAt(1999ms, {}, 1), startAt(2000ms, {1}, 1)}},
        {"a waiting fetch dropped never goes out",
         1,
         {"a", "a", "a"},
         {startAt(0ms, {1}), dropAt(0ms, 2), reply(0ms, 1, 200, none, kFinal), startAt(0ms, {3}),
          dropAt(0ms, 3), reply(0ms, 3, 200, none, kAgain), startAt(0ms, {})}},
        {"a fetch under way dropped frees its job and is not retried",
         1,
         {"a", "a"},
         {startAt(0ms, {1}), dropAt(0ms, 1), reply(0ms, 1, 429, 0s, kAgain), startAt(0ms, {2}),
          reply(0ms, 2, 200, none, kFinal), startAt(0ms, {})}},
        {"a retry dropped while it waits lets its host's share grow back",
         2,
         {"a", "a", "a", "a"},
         {startAt(0ms, {1, 2}), reply(0ms, 1, 429, 0s, kAgain), dropAt(0ms, 1),
          reply(0ms, 2, 200, none, kFinal), startAt(0ms, {3, 4})}},
        {"two minutes of 429 or 503 alone spend the refusal budget, on the clock while none "
         "is under way; another answer starts it afresh",
         2,
         {"a", "b", "a"},
         {startAt(0ms, {1, 2}), reply(0ms, 1, 429, 61s, kFinal), refusedAt(200000ms, 0),
          reply(60000ms, 2, 404, none, kFinal), startAt(60000ms, {3}),
          reply(70000ms, 3, 503, none, kFinal), refusedAt(189999ms, 0), refusedAt(190000ms, 503)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FetchScheduler scheduler(c.jobs);
        HeldTransfer transfer;
        for (FetchTicket ticket = 1; ticket <= c.origins.size(); ++ticket) {
            const std::string& origin = c.origins[ticket - 1];
            scheduler.add(ticket, origin + "/" + std::to_string(ticket), origin, nullptr);
        }
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            SCOPED_TRACE(::testing::Message() << "step " << i + 1);
            const FetchScheduler::Clock::time_point now =
                FetchScheduler::Clock::time_point{} + step.at;
            switch (step.kind) {
            case Step::Kind::Start:
                transfer.underWay.clear();
                scheduler.startDue(transfer, now,
                                   step.ticket == 0 ? std::nullopt : std::optional(step.ticket));
                EXPECT_EQ(transfer.underWay, step.started);
                break;
            case Step::Kind::Finish: {
                FinishedFetch fetch{step.ticket,
                                    FetchFailure{ErrorNumber::TransferTimeout, "none"}};
                if (step.status != 0) {
                    fetch.outcome = FetchResult{step.status, false, step.retryAfter};
                }
                const auto done = scheduler.finished(std::move(fetch), now);
                EXPECT_EQ(done.has_value(), step.final);
                if (done) {
                    const auto* result = std::get_if<FetchResult>(&*done);
                    EXPECT_EQ(result == nullptr ? 0 : result->httpStatus, step.status);
                }
                break;
            }
            case Step::Kind::Drop:
                scheduler.drop(step.ticket);
                break;
            case Step::Kind::Refused: {
                const auto refused = scheduler.refusedTooLong(now);
                EXPECT_EQ(refused.value_or(0), step.status);
                break;
            }
            }
        }
    }
}

} // namespace
} // namespace kqget
