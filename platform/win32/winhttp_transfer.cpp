#include "platform/win32/winhttp_transfer.h"

#include "platform/certificate_reason.h"
#include "platform/transfer_limit_text.h"
#include "platform/win32/wide_text.h"
#include "update/build_config.h"
#include "update/run_error.h"

#include <algorithm>
#include <utility>

namespace kqget {

WinHttpTransfer::WinHttpTransfer(TransferOptions options) : m_options(std::move(options))
{
    m_settings.userAgent = toWide("kqget/" + std::string(kDisplayVersion));
    try {
        m_settings.proxy.emplace(m_options.proxy.empty() ? systemProxyPlan()
                                                         : namedProxyPlan(m_options.proxy));
    } catch (const RunError& error) {
        m_settingsFailure = FetchFailure{error.number(), error.what()};
        return;
    }
    auto opened = openWinHttpSession(m_settings, m_options, WINHTTP_FLAG_ASYNC);
    if (auto* failure = std::get_if<FetchFailure>(&opened)) {
        m_settingsFailure = std::move(*failure);
        return;
    }
    m_session = std::get<UniqueInternet>(std::move(opened));
    // Every connection and request opened on the session inherits it.
    if (::WinHttpSetStatusCallback(m_session.get(), &WinHttpFetch::onStatus,
                                   WinHttpFetch::kNotifications,
                                   0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        m_settingsFailure = winHttpFailure("WinHttpSetStatusCallback", ::GetLastError());
    }
}

WinHttpTransfer::~WinHttpTransfer()
{
    abandonAll();
    // WinHTTP lets go of a closed request on a thread of its own; until it
    // has, its status callback may still reach the fetch.
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_live.empty(); });
}

void WinHttpTransfer::start(FetchTicket ticket, std::string_view url,
                            std::shared_ptr<BodySink> body)
{
    const auto report = [&](FetchFailure failure) {
        const std::lock_guard lock(m_mutex);
        m_ended.push_back({{ticket, std::move(failure)}, std::nullopt});
        m_changed.notify_all();
    };
    if (m_settingsFailure) {
        report(*m_settingsFailure);
        return;
    }
    const WinHttpProxyChoice& proxy = *m_settings.proxy;
    auto opened =
        openWinHttpRequest(m_session.get(), proxy.plan().automatic() ? blockingSession() : nullptr,
                           proxy, m_options, std::string(url));
    if (auto* failure = std::get_if<FetchFailure>(&opened)) {
        report(std::move(*failure));
        return;
    }
    WinHttpFetchOwner& owner = *this;
    auto owned = std::make_unique<WinHttpFetch>(owner, ticket, std::string(url), std::move(body),
                                                m_options, proxy.plan().named,
                                                std::get<WinHttpRequest>(std::move(opened)));
    WinHttpFetch* const fetch = owned.get();
    {
        const std::lock_guard lock(m_mutex);
        m_live.emplace(fetch, std::move(owned));
    }
    // Not under the lock: WinHTTP may report the fetch's end on this thread.
    if (auto failure = fetch->send()) {
        // Never sent, and no status of it carries the fetch.
        std::unique_ptr<WinHttpFetch> unsent;
        {
            const std::lock_guard lock(m_mutex);
            const auto found = m_live.find(fetch);
            unsent = std::move(found->second);
            m_live.erase(found);
        }
        ::WinHttpCloseHandle(unsent->stop(std::nullopt));
        report(std::move(*failure));
    }
}

template <typename Wanted>
bool WinHttpTransfer::stopOne(std::unique_lock<std::mutex>& lock, Wanted wanted,
                              const std::optional<FetchFailure>& failure) noexcept
{
    for (auto& [key, fetch] : m_live) {
        if (!wanted(*fetch)) {
            continue;
        }
        if (HINTERNET handle = fetch->stop(failure)) {
            // WinHTTP may tell of the close on this thread, and the fetch
            // may be gone once the lock is let go.
            lock.unlock();
            ::WinHttpCloseHandle(handle);
            lock.lock();
            return true;
        }
    }
    return false;
}

std::vector<FinishedFetch> WinHttpTransfer::waitForFinished(std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + timeout;
    std::vector<Ended> ended;
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            const Clock::time_point now = Clock::now();
            const auto overdue = [now](WinHttpFetch& fetch) { return fetch.deadline() <= now; };
            while (stopOne(lock, overdue,
                           FetchFailure{ErrorNumber::TransferTimeout,
                                        tookTooLongText(m_options.totalTimeout)})) {
            }
            if (m_outOfMemory) {
                throw RunError(ErrorNumber::OutOfMemory,
                               "out of memory: the system refused an allocation for a fetch");
            }
            if (!m_ended.empty() || now >= until) {
                break;
            }
            Clock::time_point wake = until;
            for (const auto& [key, fetch] : m_live) {
                if (!fetch->ending()) {
                    wake = std::min(wake, fetch->deadline());
                }
            }
            m_changed.wait_until(lock, wake);
        }
        ended = std::exchange(m_ended, {});
    }
    namedCertificateFailures(ended);
    std::vector<FinishedFetch> finished;
    finished.reserve(ended.size());
    for (Ended& each : ended) {
        finished.push_back(std::move(each.fetch));
    }
    return finished;
}

void WinHttpTransfer::abandonAll() noexcept
{
    std::unique_lock lock(m_mutex);
    // Those ending already are marked too, so that none is reported.
    while (stopOne(
        lock, [](WinHttpFetch&) { return true; }, std::nullopt)) {
    }
    m_ended.clear();
    m_outOfMemory = false; // it was an abandoned fetch's
}

void WinHttpTransfer::fetchClosed(WinHttpFetch& fetch) noexcept
{
    const std::lock_guard lock(m_mutex);
    if (!fetch.abandoned()) {
        // A fetch that cannot be reported fails the run's next wait instead.
        if (fetch.outOfMemory()) {
            m_outOfMemory = true;
        } else {
            try {
                m_ended.push_back(
                    {{fetch.ticket(), std::move(fetch.outcome())}, fetch.refusedServer()});
            } catch (const std::bad_alloc&) {
                m_outOfMemory = true;
            }
        }
    }
    // Under the lock, so that the destructor waits for the sink to be let go.
    m_live.erase(&fetch);
    m_changed.notify_all();
}

HINTERNET WinHttpTransfer::blockingSession()
{
    if (!m_blockingSession) {
        auto opened = openWinHttpSession(m_settings, m_options, 0);
        if (auto* session = std::get_if<UniqueInternet>(&opened)) {
            m_blockingSession = std::move(*session);
        }
    }
    return m_blockingSession.get();
}

void WinHttpTransfer::namedCertificateFailures(std::vector<Ended>& ended)
{
    for (Ended& each : ended) {
        auto* failure = std::get_if<FetchFailure>(&each.fetch.outcome);
        if (!each.refused || failure == nullptr) {
            continue;
        }
        if (const auto reason =
                probedCertificateReason(blockingSession(), *m_settings.proxy, *each.refused)) {
            failure->reason = certificateFailureText(*reason, failure->reason);
        }
    }
}

} // namespace kqget
