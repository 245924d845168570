#pragma once

#include "platform/transfer_options.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/winhttp_proxy.h"
#include "update/transfer_port.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

// Opening WinHTTP sessions and the requests that go through them.

using UniqueInternet = UniqueHandle<HINTERNET, ::WinHttpCloseHandle>;

using WinHttpOutcome = std::variant<FetchResult, FetchFailure>;

// A failed WinHTTP call, by its name and the system's reason.
FetchFailure winHttpFailure(std::string_view call, unsigned long error);

// What the transfer's sessions are opened with.
struct WinHttpSessionSettings
{
    std::optional<WinHttpProxyChoice> proxy; // none when the named proxy is unusable
    std::wstring userAgent;
};

// A session with the settings' proxy and the options' time-outs; `flags` as
// WinHttpOpen takes them (WINHTTP_FLAG_ASYNC or 0).
std::variant<UniqueInternet, FetchFailure>
openWinHttpSession(const WinHttpSessionSettings& settings, const TransferOptions& options,
                   DWORD flags);

// A GET opened on a session, not yet sent, and where it goes.
struct WinHttpRequest
{
    UniqueInternet connection;
    UniqueInternet request;
    std::wstring host;      // as in the URL
    INTERNET_PORT port = 0; // the URL's, or its scheme's
    std::wstring originUrl; // "https://host:port/"
    bool secure = false;    // https
    bool decoding = false;  // WinHTTP undoes gzip and deflate itself
};

// Opens a GET of `url` on `session` with the options' redirect limit and
// policy (never from https to http), the proxy the choice makes for it
// (asked through `proxySession`, a synchronous session) and, through a named
// proxy, its credentials.
std::variant<WinHttpRequest, FetchFailure>
openWinHttpRequest(HINTERNET session, HINTERNET proxySession, const WinHttpProxyChoice& proxy,
                   const TransferOptions& options, const std::string& url);

// The credentials a named proxy's 407 is answered with, once; the failure
// when there are none or they were refused.
std::optional<FetchFailure>
answerProxyChallenge(HINTERNET request, const std::optional<ProxyUrl>& proxy, bool answeredBefore);

} // namespace kqget
