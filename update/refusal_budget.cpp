#include "update/refusal_budget.h"

namespace kqget {

bool isRefusalStatus(long httpStatus) noexcept
{
    return httpStatus == 429 || httpStatus == 503;
}

void RefusalBudget::answered(long httpStatus, Clock::time_point now)
{
    if (!isRefusalStatus(httpStatus)) {
        m_since.reset();
        return;
    }
    if (!m_since) {
        m_since = now;
    }
    m_latestAt = now;
    m_latest = {httpStatus};
}

std::optional<RefusalBudget::Refusal> RefusalBudget::spent(Clock::time_point now,
                                                           bool fetchesUnderWay) const
{
    if (!m_since) {
        return std::nullopt;
    }
    const Clock::time_point until = fetchesUnderWay ? m_latestAt : now;
    if (until - *m_since < m_budget) {
        return std::nullopt;
    }
    return m_latest;
}

ServiceRefusing::ServiceRefusing(std::string_view url, long httpStatus)
    : RunError(ErrorNumber::ServiceRefusing, "cannot fetch " + std::string(url) +
                                                 ": the service keeps refusing (HTTP " +
                                                 std::to_string(httpStatus) + "): try again later")
{}

} // namespace kqget
