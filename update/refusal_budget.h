#pragma once

#include "update/run_error.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// How long the service may answer nothing but 429 or 503 before the run gives
// up: longer than the waits a service that sheds load asks for, short enough
// that a run against one that refuses everything ends by itself.
inline constexpr std::chrono::minutes kRefusalBudget{2};

// Whether a status says "not now": too many requests, or unavailable.
bool isRefusalStatus(long httpStatus) noexcept;

// Counts how long the service has answered nothing but refusals, over every
// host of the run: any other answer starts the count afresh. Fetches that got
// no answer at all do not count either way.
class RefusalBudget
{
public:
    using Clock = std::chrono::steady_clock;

    struct Refusal
    {
        long httpStatus = 0; // the latest refusal's
    };

    explicit RefusalBudget(Clock::duration budget = kRefusalBudget) : m_budget(budget) {}

    // The service answered a fetch with `httpStatus` at `now`.
    void answered(long httpStatus, Clock::time_point now);

    // The latest refusal once the budget is spent: by the refusals
    // themselves, or, while no fetch is under way to bring another answer,
    // by the time that has passed since the first of them.
    std::optional<Refusal> spent(Clock::time_point now, bool fetchesUnderWay) const;

private:
    Clock::duration m_budget;
    std::optional<Clock::time_point> m_since; // the first refusal since another answer
    Clock::time_point m_latestAt{};
    Refusal m_latest{};
};

// Ends the run once the service has kept refusing for the whole budget; the
// command tells what was done before, as after any failure.
class ServiceRefusing : public RunError
{
public:
    ServiceRefusing(std::string_view url, long httpStatus);
};

} // namespace kqget
