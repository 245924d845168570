#include "platform/win32/winhttp_request.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "platform/win32/winhttp_reply.h"
#include "platform/wire_url.h"

namespace kqget {

namespace {

ErrorNumber errorNumberOf(unsigned long error)
{
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        return ErrorNumber::TransferTimeout;
    case ERROR_WINHTTP_REDIRECT_FAILED: // also a scheme change WinHTTP refuses to follow
        return ErrorNumber::TooManyRedirects;
    default:
        return ErrorNumber::Transfer;
    }
}

DWORD milliseconds(std::chrono::milliseconds span)
{
    return static_cast<DWORD>(span.count());
}

const wchar_t* textOrNull(const std::wstring& text)
{
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

FetchFailure winHttpFailure(std::string_view call, unsigned long error)
{
    return {errorNumberOf(error), std::string(call) + ": " + windowsErrorText(error)};
}

WinHttpSession::WinHttpSession(const WinHttpSessionSettings& settings,
                               const TransferOptions& options)
    : m_options(options), m_proxy(*settings.proxy)
{
    const WinHttpProxyPlan& plan = m_proxy.plan();
    m_session.reset(::WinHttpOpen(settings.userAgent.c_str(), plan.access, textOrNull(plan.proxy),
                                  textOrNull(plan.bypass), 0));
    if (!m_session) {
        m_setupFailure = winHttpFailure("WinHttpOpen", ::GetLastError());
        return;
    }
    // Finding the host counts as connecting. No byte for the stall
    // time-out fails the fetch, whether it waits for the reply's headers
    // or for more of its body.
    const DWORD connect = milliseconds(options.connectTimeout);
    const DWORD stall = milliseconds(options.stallTimeout);
    if (!::WinHttpSetTimeouts(m_session.get(), connect, connect, stall, stall)) {
        m_setupFailure = winHttpFailure("WinHttpSetTimeouts", ::GetLastError());
    }
}

WinHttpOutcome WinHttpSession::fetch(const std::string& url, BodySink& sink)
{
    if (m_setupFailure) {
        return *m_setupFailure;
    }
    const std::wstring wire = toWide(wireUrl(url));
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(wire.c_str(), static_cast<DWORD>(wire.size()), 0, &parts)) {
        return winHttpFailure("WinHttpCrackUrl", ::GetLastError());
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) {
        object = L"/";
    }

    const UniqueInternet connection(
        ::WinHttpConnect(m_session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) {
        return winHttpFailure("WinHttpConnect", ::GetLastError());
    }
    // The target is already in its wire form: WinHTTP must not encode it again.
    DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        flags |= WINHTTP_FLAG_SECURE;
    }
    const UniqueInternet request(::WinHttpOpenRequest(connection.get(), L"GET", object.c_str(),
                                                      nullptr, WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) {
        return winHttpFailure("WinHttpOpenRequest", ::GetLastError());
    }
    DWORD receiveResponse = milliseconds(m_options.stallTimeout);
    DWORD redirects = static_cast<DWORD>(m_options.maxRedirects);
    if (!::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                            &receiveResponse, sizeof receiveResponse) ||
        !::WinHttpSetOption(request.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                            sizeof redirects)) {
        return winHttpFailure("WinHttpSetOption", ::GetLastError());
    }
    // WinHTTP then offers gzip and deflate and undoes them as the body is
    // read, so that a card file is stored as the card product reads it and
    // the size cap counts decoded bytes. A system without the option
    // (before Windows 8.1) undoes nothing: a coded body is then refused.
    DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_ALL;
    const bool decoding = ::WinHttpSetOption(request.get(), WINHTTP_OPTION_DECOMPRESSION,
                                             &decompression, sizeof decompression) != FALSE;
    if (!m_proxy.applyTo(m_session.get(), request.get(), wire)) {
        return winHttpFailure("WinHttpSetOption", ::GetLastError());
    }
    if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return winHttpFailure("WinHttpSendRequest", ::GetLastError());
    }
    if (!::WinHttpReceiveResponse(request.get(), nullptr)) {
        return winHttpFailure("WinHttpReceiveResponse", ::GetLastError());
    }
    return readWinHttpReply(request.get(), sink, m_options.bodySizeCap, decoding);
}

} // namespace kqget
