#include "update/fetch_scheduler.h"

#include <algorithm>

namespace kqget {

namespace {

constexpr long kTooManyRequests = 429;
constexpr long kServiceUnavailable = 503;

} // namespace

FetchScheduler::FetchScheduler(std::size_t jobs) : m_jobs(std::max<std::size_t>(jobs, 1)) {}

std::size_t FetchScheduler::hostIndex(std::string_view origin)
{
    for (std::size_t i = 0; i < m_hosts.size(); ++i) {
        if (m_hosts[i].origin == origin) {
            return i;
        }
    }
    m_hosts.push_back({std::string(origin), m_jobs});
    return m_hosts.size() - 1;
}

void FetchScheduler::add(FetchTicket ticket, std::string url, std::string_view origin)
{
    m_pending.emplace(ticket, Fetch{std::move(url), hostIndex(origin)});
}

void FetchScheduler::startDue(TransferPort& transfer, Clock::time_point now,
                              FetchTicket nextApplied)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        // A window over the walk, not a count of fetches out: a fetch held
        // back by its host's wait keeps its place, so later ones on another
        // host cannot fill every place with results that must wait for it.
        // A slow fetch holds back the ones after it, not the memory.
        if (it->first >= nextApplied + m_jobs || m_inFlight >= m_jobs) {
            return;
        }
        Host& host = m_hosts[it->second.host];
        if (host.inFlight >= host.limit || host.quietUntil > now) {
            ++it;
            continue;
        }
        transfer.start(it->first, it->second.url);
        ++host.inFlight;
        ++m_inFlight;
        auto node = m_pending.extract(it++);
        m_underWay.insert(std::move(node));
    }
}

bool FetchScheduler::isRateLimit(const Outcome& outcome) const
{
    const auto* result = std::get_if<FetchResult>(&outcome);
    return result != nullptr &&
           (result->httpStatus == kTooManyRequests || result->httpStatus == kServiceUnavailable) &&
           result->retryAfter && *result->retryAfter <= kLongestRetryAfter;
}

std::optional<FetchScheduler::Outcome> FetchScheduler::finished(FinishedFetch fetch,
                                                                Clock::time_point now)
{
    auto found = m_underWay.find(fetch.ticket);
    if (found == m_underWay.end()) {
        return std::nullopt;
    }
    Host& host = m_hosts[found->second.host];
    --host.inFlight;
    --m_inFlight;
    if (!isRateLimit(fetch.outcome) || found->second.retries >= kMaxRetries) {
        m_underWay.erase(found);
        return std::move(fetch.outcome);
    }
    const auto wait = *std::get<FetchResult>(fetch.outcome).retryAfter;
    auto node = m_underWay.extract(found);
    ++node.mapped().retries;
    host.quietUntil = std::max(host.quietUntil, now + wait);
    host.limit = std::max<std::size_t>(host.limit / 2, 1);
    m_pending.insert(std::move(node));
    return std::nullopt;
}

void FetchScheduler::clear() noexcept
{
    m_pending.clear();
    m_underWay.clear();
    m_inFlight = 0;
    for (Host& host : m_hosts) {
        host.inFlight = 0;
    }
}

} // namespace kqget
