#include "update/fetch_scheduler.h"

#include <algorithm>

namespace kqget {

namespace {

// Whether a status says "not now": too many requests, or unavailable.
bool isRefusalStatus(long httpStatus) noexcept
{
    return httpStatus == 429 || httpStatus == 503;
}

// A refusal with a wait short enough to be waited out and asked again.
bool isRateLimit(const FetchScheduler::Outcome& outcome)
{
    const auto* result = std::get_if<FetchResult>(&outcome);
    return result != nullptr && isRefusalStatus(result->httpStatus) && result->retryAfter &&
           *result->retryAfter <= kLongestRetryAfter;
}

} // namespace

FetchScheduler::FetchScheduler(std::size_t jobs) : m_jobs(std::max<std::size_t>(jobs, 1)) {}

std::size_t FetchScheduler::hostIndex(std::string_view origin)
{
    const auto known = std::ranges::find(m_hosts, origin, &Host::origin);
    if (known != m_hosts.end()) {
        return static_cast<std::size_t>(known - m_hosts.begin());
    }
    m_hosts.push_back({std::string(origin), m_jobs});
    return m_hosts.size() - 1;
}

void FetchScheduler::add(FetchTicket ticket, std::string url, std::string_view origin,
                         std::shared_ptr<BodySink> body)
{
    m_pending.emplace(ticket, Fetch{std::move(url), hostIndex(origin), std::move(body)});
}

bool FetchScheduler::mayStart(const Fetch& fetch, Clock::time_point now) const
{
    const Host& host = m_hosts[fetch.host];
    return host.inFlight < host.limit && host.quietUntil <= now;
}

void FetchScheduler::startOne(TransferPort& transfer, Fetches::iterator it)
{
    ++m_hosts[it->second.host].inFlight;
    auto node = m_pending.extract(it);
    const auto placed = m_underWay.insert(std::move(node)).position;
    const Fetch& fetch = placed->second;
    transfer.start(placed->first, fetch.url, fetch.body);
}

void FetchScheduler::startDue(TransferPort& transfer, Clock::time_point now,
                              std::optional<FetchTicket> first)
{
    // The fetch the run waits for goes before those it may never need.
    if (const auto it = first ? m_pending.find(*first) : m_pending.end();
        it != m_pending.end() && m_underWay.size() < m_jobs && mayStart(it->second, now)) {
        startOne(transfer, it);
    }
    for (auto it = m_pending.begin(); it != m_pending.end() && m_underWay.size() < m_jobs;) {
        if (mayStart(it->second, now)) {
            startOne(transfer, it++);
        } else {
            ++it;
        }
    }
}

ServiceRefusing::ServiceRefusing(std::string_view url, long httpStatus)
    : RunError(ErrorNumber::ServiceRefusing, "cannot fetch " + std::string(url) +
                                                 ": the service keeps refusing (HTTP " +
                                                 std::to_string(httpStatus) + "): try again later")
{}

std::optional<long> FetchScheduler::refusedTooLong(Clock::time_point now) const
{
    const Clock::time_point until = !m_underWay.empty() ? m_latestRefusalAt : now;
    if (!m_refusingSince || until - *m_refusingSince < kRefusalBudget) {
        return std::nullopt;
    }
    return m_latestRefusalStatus;
}

void FetchScheduler::answered(Host& host, const Fetch& fetch, bool rateLimited)
{
    if (fetch.retries > 0) {
        --host.retriesOut;
    }
    if (rateLimited) {
        host.limit = std::max<std::size_t>(host.limit / 2, 1);
        host.answered = 0;
        return;
    }
    // One more at a time for each full share answered without complaint,
    // once nothing retried is still out.
    if (host.limit < m_jobs && host.retriesOut == 0 && ++host.answered >= host.limit) {
        ++host.limit;
        host.answered = 0;
    }
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
    if (const auto* result = std::get_if<FetchResult>(&fetch.outcome);
        result != nullptr && !isRefusalStatus(result->httpStatus)) {
        m_refusingSince.reset();
    } else if (result != nullptr) {
        m_refusingSince = m_refusingSince.value_or(now);
        m_latestRefusalAt = now;
        m_latestRefusalStatus = result->httpStatus;
    }
    const bool rateLimited = isRateLimit(fetch.outcome);
    answered(host, found->second, rateLimited);
    if (found->second.dropped) {
        m_underWay.erase(found);
        return std::nullopt;
    }
    if (!rateLimited || found->second.retries >= kMaxRetries) {
        m_underWay.erase(found);
        return std::move(fetch.outcome);
    }
    const auto wait = *std::get<FetchResult>(fetch.outcome).retryAfter;
    auto node = m_underWay.extract(found);
    ++node.mapped().retries;
    ++host.retriesOut;
    host.quietUntil = std::max(host.quietUntil, now + wait);
    m_pending.insert(std::move(node));
    return std::nullopt;
}

void FetchScheduler::drop(FetchTicket ticket)
{
    if (const auto pending = m_pending.find(ticket); pending != m_pending.end()) {
        if (pending->second.retries > 0) {
            --m_hosts[pending->second.host].retriesOut;
        }
        m_pending.erase(pending);
        return;
    }
    if (const auto found = m_underWay.find(ticket); found != m_underWay.end()) {
        found->second.dropped = true;
    }
}

void FetchScheduler::clear() noexcept
{
    m_pending.clear();
    m_underWay.clear();
    for (Host& host : m_hosts) {
        host.inFlight = 0;
        host.retriesOut = 0;
    }
}

} // namespace kqget
