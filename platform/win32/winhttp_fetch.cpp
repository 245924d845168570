#include "platform/win32/winhttp_fetch.h"

#include "platform/certificate_reason.h"
#include "platform/transfer_limit_text.h"
#include "platform/win32/wide_text.h"

#include <algorithm>
#include <new>
#include <utility>

namespace kqget {

namespace {

// What the callback is told when one of its calls failed.
const char* callOf(DWORD_PTR api)
{
    switch (api) {
    case API_RECEIVE_RESPONSE:
        return "WinHttpReceiveResponse";
    case API_QUERY_DATA_AVAILABLE:
        return "WinHttpQueryDataAvailable";
    case API_READ_DATA:
        return "WinHttpReadData";
    case API_WRITE_DATA:
        return "WinHttpWriteData";
    default:
        return "WinHttpSendRequest";
    }
}

constexpr DWORD kProxyAuthenticationRequired = 407;

std::optional<std::wstring> locationOf(HINTERNET request)
{
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                          WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                               text.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

} // namespace

WinHttpFetch::WinHttpFetch(WinHttpFetchOwner& owner, FetchTicket ticket, std::string url,
                           std::shared_ptr<BodySink> sink, const TransferOptions& options,
                           const std::optional<ProxyUrl>& namedProxy, WinHttpRequest request)
    : m_owner(owner), m_ticket(ticket), m_url(std::move(url)), m_sink(std::move(sink)),
      m_options(options), m_namedProxy(namedProxy), m_request(std::move(request)),
      m_handle(m_request.request.release()),
      m_deadline(std::chrono::steady_clock::now() + options.totalTimeout),
      m_buffer(std::make_unique_for_overwrite<char[]>(kReceiveBufferBytes)),
      m_reply(*m_sink, options), m_outcome(FetchFailure{ErrorNumber::Unexpected, "no outcome"})
{}

std::optional<FetchFailure> WinHttpFetch::send()
{
    // Every later status of the handle carries this fetch.
    auto context = reinterpret_cast<DWORD_PTR>(this);
    if (!::WinHttpSetOption(m_handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        return winHttpFailure("WinHttpSetOption", ::GetLastError());
    }
    if (!::WinHttpSendRequest(m_handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                              0, 0, context)) {
        const DWORD error = ::GetLastError();
        try {
            fail("WinHttpSendRequest", error);
        } catch (const std::bad_alloc&) {
            finishWithoutMemory();
        }
    }
    return std::nullopt;
}

HINTERNET WinHttpFetch::stop(std::optional<FetchFailure> failure) noexcept
{
    const std::lock_guard lock(m_mutex);
    m_abandoned = m_abandoned || !failure;
    if (m_ending) {
        return nullptr;
    }
    m_ending = true;
    if (failure) {
        m_outcome = std::move(*failure);
    }
    return m_handle;
}

bool WinHttpFetch::ending() noexcept
{
    const std::lock_guard lock(m_mutex);
    return m_ending;
}

void CALLBACK WinHttpFetch::onStatus(HINTERNET handle, DWORD_PTR context, DWORD status,
                                     void* information, DWORD length) noexcept
{
    // The session's and the connections' own statuses carry no fetch.
    auto* fetch = reinterpret_cast<WinHttpFetch*>(context);
    if (fetch == nullptr || handle != fetch->m_handle) {
        return;
    }
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        fetch->m_owner.fetchClosed(*fetch);
        return;
    }
    // Nothing may unwind into WinHTTP's frames.
    try {
        fetch->advance(status, information, length);
    } catch (const std::bad_alloc&) {
        fetch->finishWithoutMemory();
    } catch (...) {
        const CaughtFailure failure = caughtFailure();
        if (failure.number == ErrorNumber::OutOfMemory) {
            fetch->finishWithoutMemory();
            return;
        }
        try {
            fetch->finish(FetchFailure{failure.number, std::string(failure.description)});
        } catch (const std::bad_alloc&) {
            fetch->finishWithoutMemory();
        }
    }
}

void WinHttpFetch::advance(DWORD status, void* information, DWORD length)
{
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (information != nullptr && length >= sizeof(DWORD)) {
            m_secureFailureFlags |= *static_cast<const DWORD*>(information);
        }
        return;
    case WINHTTP_CALLBACK_STATUS_REDIRECT:
        ++m_redirects;
        // WinHTTP's policy refuses this too; a close here is the documented
        // way to stop a redirect before it goes out.
        if (information != nullptr) {
            const std::string location = toUtf8(static_cast<const wchar_t*>(information));
            if (leavesHttps(m_url, location)) {
                finish(FetchFailure{ErrorNumber::Transfer, clearTextRedirectText(location)});
            }
        }
        return;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        if (!::WinHttpReceiveResponse(m_handle, nullptr)) {
            fail("WinHttpReceiveResponse", ::GetLastError());
        }
        return;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        headersAvailable();
        return;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        dataAvailable(*static_cast<const DWORD*>(information));
        return;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        readComplete(length);
        return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto& result = *static_cast<const WINHTTP_ASYNC_RESULT*>(information);
        fail(callOf(result.dwResult), result.dwError);
        return;
    }
    default:
        return;
    }
}

void WinHttpFetch::headersAvailable()
{
    DWORD status = 0;
    DWORD size = sizeof status;
    ::WinHttpQueryHeaders(m_handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status == kProxyAuthenticationRequired) {
        if (auto refused = answerProxyChallenge(m_handle, m_namedProxy, m_answeredProxy)) {
            finish(std::move(*refused));
            return;
        }
        m_answeredProxy = true;
        if (!::WinHttpSendRequest(m_handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0,
                                  reinterpret_cast<DWORD_PTR>(this))) {
            fail("WinHttpSendRequest", ::GetLastError());
        }
        return;
    }
    if (auto ended = m_reply.begin(m_handle, m_request.decoding)) {
        finish(std::move(*ended));
        return;
    }
    askForData();
}

void WinHttpFetch::askForData()
{
    if (!::WinHttpQueryDataAvailable(m_handle, nullptr)) {
        fail("WinHttpQueryDataAvailable", ::GetLastError());
    }
}

void WinHttpFetch::dataAvailable(DWORD available)
{
    if (available == 0) {
        finish(m_reply.end());
        return;
    }
    // Only what is there, so that a read never waits for more: a slow body
    // is then seen as slow, not as silent.
    const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(kReceiveBufferBytes));
    if (!::WinHttpReadData(m_handle, m_buffer.get(), wanted, nullptr)) {
        fail("WinHttpReadData", ::GetLastError());
    }
}

void WinHttpFetch::readComplete(DWORD got)
{
    if (got == 0) {
        finish(m_reply.end());
        return;
    }
    if (auto ended = m_reply.take(std::string_view(m_buffer.get(), got))) {
        finish(std::move(*ended));
        return;
    }
    askForData();
}

void WinHttpFetch::fail(const char* call, DWORD error)
{
    finish(explained(winHttpFailure(call, error), error));
}

FetchFailure WinHttpFetch::explained(FetchFailure failure, DWORD error)
{
    if (error == ERROR_WINHTTP_REDIRECT_FAILED && m_request.secure) {
        // Refused by the redirect policy rather than the limit. Its Location
        // where WinHTTP still gives it (Wine does not).
        const std::optional<std::wstring> location = locationOf(m_handle);
        if (location ? leavesHttps(m_url, toUtf8(*location))
                     : m_redirects < m_options.maxRedirects) {
            return {ErrorNumber::Transfer,
                    clearTextRedirectText(location ? toUtf8(*location) : "an http:// address")};
        }
    }
    // Through a named proxy, the proxy is all WinHTTP connects to.
    if (m_namedProxy &&
        (error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED)) {
        failure.reason =
            "cannot reach the proxy " + proxyNamed(*m_namedProxy, {}) + ": " + failure.reason;
    } else if (error == ERROR_WINHTTP_NAME_NOT_RESOLVED) {
        failure.reason.append(m_options.bases.unresolvedHostNote(m_url));
    } else if (m_request.secure) {
        if (const auto reason = namedCertificateReason(error, m_secureFailureFlags)) {
            failure.reason = certificateFailureText(*reason, failure.reason);
        } else if (isSecureFailure(error)) {
            m_refused = RefusedServer{m_request.host, m_request.port, m_request.originUrl};
        }
    }
    return failure;
}

void WinHttpFetch::finish(WinHttpOutcome outcome) noexcept
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_ending) {
            return; // stopped from outside: that outcome stands
        }
        m_ending = true;
        m_outcome = std::move(outcome);
    }
    ::WinHttpCloseHandle(m_handle);
}

void WinHttpFetch::finishWithoutMemory() noexcept
{
    {
        const std::lock_guard lock(m_mutex);
        m_outOfMemory = true;
        if (m_ending) {
            return;
        }
        m_ending = true;
    }
    ::WinHttpCloseHandle(m_handle);
}

} // namespace kqget
