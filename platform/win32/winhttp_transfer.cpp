#include "platform/win32/winhttp_transfer.h"

#include "platform/native_ports.h"
#include "platform/transfer_limit_text.h"
#include "platform/win32/certificate_reason.h"
#include "platform/win32/wide_text.h"
#include "platform/wire_url.h"
#include "update/build_config.h"
#include "update/run_error.h"

#include <algorithm>
#include <utility>

namespace kqget {

namespace {

bool setNumber(HINTERNET request, DWORD option, DWORD value)
{
    return ::WinHttpSetOption(request, option, &value, sizeof value) != FALSE;
}

} // namespace

WinHttpTransfer::WinHttpTransfer(TransferOptions options) : m_options(std::move(options))
{
    try {
        m_proxy.emplace(m_options, toWide("kqget/" + std::string(kDisplayVersion)));
    } catch (const RunError& error) {
        m_setupFailure = FetchFailure{error.number(), error.what()};
        return;
    }
    m_session = m_proxy->openSession(WINHTTP_FLAG_ASYNC);
    if (!m_session) {
        m_setupFailure = winHttpFailure("WinHttpOpen", ::GetLastError());
    } else if (::WinHttpSetStatusCallback(m_session.get(), &WinHttpFetch::onStatus,
                                          WinHttpFetch::kNotifications,
                                          0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        // Every connection and request opened on the session inherits it.
        m_setupFailure = winHttpFailure("WinHttpSetStatusCallback", ::GetLastError());
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
    auto owned = std::make_unique<WinHttpFetch>(*this, ticket, std::string(url), std::move(body));
    if (auto failure = m_setupFailure ? m_setupFailure : open(*owned)) {
        owned.reset(); // its handles closed outside the lock
        const std::lock_guard lock(m_mutex);
        m_ended.push_back({{ticket, std::move(*failure)}, {}});
        m_changed.notify_all();
        return;
    }
    WinHttpFetch& fetch = *owned;
    {
        const std::lock_guard lock(m_mutex);
        m_live.emplace(&fetch, std::move(owned));
    }
    // Not under the lock: WinHTTP may report the fetch's end on this thread.
    fetch.send();
}

std::optional<FetchFailure> WinHttpTransfer::open(WinHttpFetch& fetch)
{
    const auto lastFailure = [](const char* call) {
        return winHttpFailure(call, ::GetLastError());
    };
    fetch.m_wireUrl = toWide(wireUrl(fetch.m_url));
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(fetch.m_wireUrl.c_str(), static_cast<DWORD>(fetch.m_wireUrl.size()), 0,
                           &parts)) {
        return lastFailure("WinHttpCrackUrl");
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    fetch.m_secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    fetch.m_connection.reset(::WinHttpConnect(m_session.get(), host.c_str(), parts.nPort, 0));
    if (!fetch.m_connection) {
        return lastFailure("WinHttpConnect");
    }
    // The target is already in its wire form: WinHTTP must not encode it again.
    const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                        (fetch.m_secure ? WINHTTP_FLAG_SECURE : 0);
    fetch.m_opened.reset(::WinHttpOpenRequest(
        fetch.m_connection.get(), L"GET", object.empty() ? L"/" : object.c_str(), nullptr,
        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    HINTERNET request = fetch.m_opened.get();
    if (!request) {
        return lastFailure("WinHttpOpenRequest");
    }
    // A redirect from https to http would carry the account key in clear.
    if (!setNumber(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                   static_cast<DWORD>(m_options.stallTimeout.count())) ||
        !setNumber(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS,
                   static_cast<DWORD>(m_options.maxRedirects)) ||
        !setNumber(request, WINHTTP_OPTION_REDIRECT_POLICY,
                   WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP)) {
        return lastFailure("WinHttpSetOption");
    }
    // WinHTTP then offers gzip and deflate and undoes them as the body is
    // read. A system without the option (Wine, Windows before 8.1) offers
    // none, and kqget undoes them where a server sends them all the same.
    fetch.m_decodedBySystem =
        setNumber(request, WINHTTP_OPTION_DECOMPRESSION, WINHTTP_DECOMPRESSION_FLAG_ALL);
    if (auto failure = m_proxy->applyTo(request, fetch.m_wireUrl)) {
        return failure;
    }
    // Every later status of the handle carries this fetch.
    auto context = reinterpret_cast<DWORD_PTR>(&fetch);
    if (!::WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        return lastFailure("WinHttpSetOption");
    }
    return std::nullopt;
}

FetchFailure WinHttpTransfer::explained(WinHttpFetch& fetch, const char* call, DWORD error)
{
    FetchFailure failure = winHttpFailure(call, error);
    const std::optional<ProxyUrl>& proxy = m_proxy->named();
    if (error == ERROR_WINHTTP_REDIRECT_FAILED && fetch.m_secure) {
        // Refused by the redirect policy rather than the limit: its Location
        // where WinHTTP still gives it (Wine does not).
        const auto location = replyHeader(fetch.m_handle, WINHTTP_QUERY_LOCATION);
        if (location ? leavesHttps(fetch.m_url, *location)
                     : fetch.m_redirects < m_options.maxRedirects) {
            failure = {ErrorNumber::Transfer,
                       clearTextRedirectText(location.value_or("an http:// address"))};
        }
    } else if (proxy && (error == ERROR_WINHTTP_CANNOT_CONNECT ||
                         error == ERROR_WINHTTP_NAME_NOT_RESOLVED)) {
        // Through a named proxy, the proxy is all WinHTTP connects to.
        failure.reason = "cannot reach the proxy " + proxy->named() + ": " + failure.reason;
    } else if (error == ERROR_WINHTTP_NAME_NOT_RESOLVED) {
        failure.reason.append(m_options.bases.unresolvedHostNote(fetch.m_url));
    } else if (fetch.m_secure) {
        if (const auto reason = namedCertificateReason(error, fetch.m_secureFailureFlags)) {
            failure.reason = certificateFailureText(*reason, failure.reason);
        } else {
            fetch.m_certificateRefused = isSecureFailure(error);
        }
    }
    return failure;
}

template <typename Wanted>
bool WinHttpTransfer::stopOne(std::unique_lock<std::mutex>& lock, Wanted wanted,
                              const std::optional<FetchFailure>& failure) noexcept
{
    for (auto& [key, fetch] : m_live) {
        // Those ending already are marked too, so that none is reported.
        if (!wanted(*fetch)) {
            continue;
        }
        fetch->m_abandoned = fetch->m_abandoned || !failure;
        if (fetch->m_ending) {
            continue;
        }
        fetch->m_ending = true;
        if (failure) {
            fetch->m_outcome = *failure;
        }
        // WinHTTP may tell of the close on this thread, and the fetch may be
        // gone once the lock is let go.
        const HINTERNET handle = fetch->m_handle;
        lock.unlock();
        ::WinHttpCloseHandle(handle);
        lock.lock();
        return true;
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
            const auto overdue = [now](WinHttpFetch& fetch) { return fetch.m_deadline <= now; };
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
                if (!fetch->m_ending) {
                    wake = std::min(wake, fetch->m_deadline);
                }
            }
            m_changed.wait_until(lock, wake);
        }
        ended = std::exchange(m_ended, {});
    }
    std::vector<FinishedFetch> finished;
    finished.reserve(ended.size());
    for (Ended& each : ended) {
        auto* failure = std::get_if<FetchFailure>(&each.fetch.outcome);
        if (failure != nullptr && !each.refusedUrl.empty()) {
            if (const auto reason = probedCertificateReason(*m_proxy, each.refusedUrl)) {
                failure->reason = certificateFailureText(*reason, failure->reason);
            }
        }
        finished.push_back(std::move(each.fetch));
    }
    return finished;
}

void WinHttpTransfer::abandonAll() noexcept
{
    std::unique_lock lock(m_mutex);
    while (stopOne(
        lock, [](WinHttpFetch&) { return true; }, std::nullopt)) {
    }
    m_ended.clear();
    m_outOfMemory = false; // it was an abandoned fetch's
}

void WinHttpTransfer::closed(WinHttpFetch& fetch) noexcept
{
    const std::lock_guard lock(m_mutex);
    // A fetch that cannot be reported fails the run's next wait instead.
    m_outOfMemory = m_outOfMemory || (!fetch.m_abandoned && fetch.m_outOfMemory);
    if (!fetch.m_abandoned && !fetch.m_outOfMemory) {
        try {
            m_ended.push_back({{fetch.m_ticket, std::move(fetch.m_outcome)},
                               fetch.m_certificateRefused ? fetch.m_wireUrl : std::wstring()});
        } catch (const std::bad_alloc&) {
            m_outOfMemory = true;
        }
    }
    // Under the lock, so that the destructor waits for the sink to be let go.
    m_live.erase(&fetch);
    m_changed.notify_all();
}

std::unique_ptr<TransferPort> makeNativeTransfer(TransferOptions options)
{
    return std::make_unique<WinHttpTransfer>(std::move(options));
}

} // namespace kqget
