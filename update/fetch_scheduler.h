#pragma once

#include "update/transfer_port.h"

#include <chrono>
#include <cstddef>
#include <map>
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

// Decides when each fetch the walk plans goes out. Only the `jobs` earliest
// fetches whose results the run has not yet applied (it applies them strictly
// in walk order) may be under way, finished and waiting for their turn, or
// waiting to be asked again; so one job is exactly one fetch at a time, and
// the fetch the run waits for always has its place. A host that answers 429 or
// 503 with a short Retry-After gets nothing new until the wait is over, then
// half its share for the rest of the run.
class FetchScheduler
{
public:
    using Clock = std::chrono::steady_clock;
    using Outcome = std::variant<FetchResult, FetchFailure>;

    explicit FetchScheduler(std::size_t jobs);

    // `origin` tells the hosts apart: fetches with the same one share a limit.
    void add(FetchTicket ticket, std::string url, std::string_view origin);

    // Starts, earliest ticket first, every fetch the limits allow at `now`.
    // `nextApplied`: the ticket whose result the run applies next; tickets
    // number the fetches in walk order from 1.
    void startDue(TransferPort& transfer, Clock::time_point now, FetchTicket nextApplied);

    // A fetch finished. Returns its outcome when final; none when it will go
    // out again after the wait the host asked for, or was never ours.
    std::optional<Outcome> finished(FinishedFetch fetch, Clock::time_point now);

    std::size_t notStarted() const noexcept { return m_pending.size(); }

    // Forgets every fetch, under way or not; the transfer abandons its own.
    void clear() noexcept;

private:
    struct Host
    {
        std::string origin;
        std::size_t limit;
        std::size_t inFlight = 0;
        Clock::time_point quietUntil{};
    };
    struct Fetch
    {
        std::string url;
        std::size_t host;
        int retries = 0; // a retry waits out its host's quiet period
    };

    std::size_t hostIndex(std::string_view origin);
    bool isRateLimit(const Outcome& outcome) const;

    std::size_t m_jobs;
    std::size_t m_inFlight = 0;
    std::vector<Host> m_hosts;
    std::map<FetchTicket, Fetch> m_pending;
    std::map<FetchTicket, Fetch> m_underWay;
};

} // namespace kqget
