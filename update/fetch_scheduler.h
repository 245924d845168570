#pragma once

#include "update/run_error.h"
#include "update/transfer_port.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kqget {

// A rate-limited reply is retried only when the service asks for a wait this
// short, and only this many times.
inline constexpr std::chrono::seconds kLongestRetryAfter{60};
inline constexpr int kMaxRetries = 3;
// How long the service may answer nothing but 429 or 503 before the run gives
// up: longer than the waits a service that sheds load asks for, short enough
// that a run against one that refuses everything ends by itself.
inline constexpr std::chrono::minutes kRefusalBudget{2};

// Ends the run once the service has kept refusing for the whole budget; the
// command tells what was done before, as after any failure.
class ServiceRefusing : public RunError
{
public:
    ServiceRefusing(std::string_view url, long httpStatus);
};

// Decides when each fetch the run asks for goes out: never more than `jobs`
// under way, the one the run waits for first, then the earliest. Results may
// come in any order; the run applies them in its own. A host that answers 429
// or 503 with a short Retry-After gets nothing new until the wait is over and
// half its share from then on; once its retried fetches have been answered
// without another such reply, its share grows back one fetch at a time
// (additive increase, multiplicative decrease). Every answer, retried or not,
// counts towards the run's refusal budget: how long the service, over every
// host, has answered nothing but 429 or 503. Any other answer starts that
// count afresh; fetches that got no answer at all do not count either way.
class FetchScheduler
{
public:
    using Clock = std::chrono::steady_clock;
    using Outcome = std::variant<FetchResult, FetchFailure>;

    explicit FetchScheduler(std::size_t jobs);

    // `origin` tells the hosts apart: fetches with the same one share a limit.
    void add(FetchTicket ticket, std::string url, std::string_view origin,
             std::shared_ptr<BodySink> body);

    // Starts every fetch the limits allow at `now`: `first` before any other,
    // then the earliest ticket first.
    void startDue(TransferPort& transfer, Clock::time_point now,
                  std::optional<FetchTicket> first = std::nullopt);

    // A fetch finished. Returns its outcome when final (the body went to the
    // fetch's sink); none when it will go out again after the wait the host
    // asked for, was dropped or was never ours.
    std::optional<Outcome> finished(FinishedFetch fetch, Clock::time_point now);

    // The run no longer wants the fetch: it does not go out, or its result is
    // dropped when it comes, and it is never retried.
    void drop(FetchTicket ticket);

    // The latest refusal's HTTP status once the refusal budget is spent (on
    // `now`'s clock): by the refusals themselves, or, while no fetch is under
    // way to bring another answer, by the time that has passed since the
    // first of them.
    std::optional<long> refusedTooLong(Clock::time_point now) const;

    std::size_t notStarted() const noexcept { return m_pending.size(); }
    std::size_t underWay() const noexcept { return m_underWay.size(); }

    // Forgets every fetch, under way or not; the transfer abandons its own.
    void clear() noexcept;

private:
    struct Host
    {
        std::string origin;
        std::size_t limit;
        std::size_t inFlight = 0;
        Clock::time_point quietUntil{};
        std::size_t retriesOut = 0; // retried fetches not yet answered for good
        std::size_t answered = 0;   // replies since its share last changed
    };
    struct Fetch
    {
        std::string url;
        std::size_t host;
        std::shared_ptr<BodySink> body;
        int retries = 0; // a retry waits out its host's quiet period
        bool dropped = false;
    };
    using Fetches = std::map<FetchTicket, Fetch>;

    std::size_t hostIndex(std::string_view origin);
    bool mayStart(const Fetch& fetch, Clock::time_point now) const;
    void startOne(TransferPort& transfer, Fetches::iterator it);
    void answered(Host& host, const Fetch& fetch, bool rateLimited);

    std::size_t m_jobs;
    std::vector<Host> m_hosts;
    Fetches m_pending;
    Fetches m_underWay;
    std::optional<Clock::time_point> m_refusingSince; // the first refusal since another answer
    Clock::time_point m_latestRefusalAt{};
    long m_latestRefusalStatus = 0;
};

} // namespace kqget
