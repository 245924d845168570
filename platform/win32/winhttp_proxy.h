#pragma once

#include "platform/proxy_url.h"
#include "platform/transfer_options.h"
#include "platform/win32/unique_handle.h"
#include "update/transfer_port.h"

#include <optional>
#include <string>
#include <string_view>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

using UniqueInternet = UniqueHandle<HINTERNET, ::WinHttpCloseHandle>;

// A failed WinHTTP call, by its name and the system's reason.
FetchFailure winHttpFailure(std::string_view call, unsigned long error);

// Where a transfer's fetches go, decided once when the transfer is made: the
// proxy the user named (--proxy), with the credentials from its URL, else
// what the system says, as careful Windows programs read it: the user's
// Internet settings first (automatic detection or a configuration script,
// asked per URL; a proxy with its bypass list, also where the automatic
// configuration has no answer), else the machine's WinHTTP setting
// (netsh winhttp), else straight to the server.
class WinHttpProxy
{
public:
    // The options' proxy, or with none the system's. Throws RunError when
    // WinHTTP cannot use the one named (not http://, no host), naming it with
    // its password hidden.
    WinHttpProxy(const TransferOptions& options, std::wstring userAgent);

    // A session whose requests go through the proxy, with the options'
    // time-outs; `flags` as WinHttpOpen takes them (WINHTTP_FLAG_ASYNC or 0).
    // Null, with the reason in GetLastError(), when it cannot be opened.
    UniqueInternet openSession(DWORD flags) const;

    // Gives `request`, for `url`, the proxy the automatic configuration
    // chooses (asked on a synchronous session of its own: WinHTTP answers it
    // only by blocking) and a named proxy's credentials. Without an answer
    // the request keeps the session's proxy. When the automatic configuration
    // fails once (no WPAD server, a script that cannot be fetched), the rest of
    // the transfer goes without asking again: every new attempt would cost
    // its time-outs again on every fetch. The run's thread only.
    std::optional<FetchFailure> applyTo(HINTERNET request, const std::wstring& url);

    // How a fetch that got 407 goes on: none when the named proxy's
    // credentials are given to `request` for the first time, and it is to be
    // sent again; else the failure it ends with. Safe from any thread.
    std::optional<FetchFailure> answerChallenge(HINTERNET request, bool answeredBefore) const;

    const std::optional<ProxyUrl>& named() const noexcept { return m_named; }

private:
    std::wstring m_userAgent;
    DWORD m_connectTimeout = 0; // ms
    DWORD m_stallTimeout = 0;   // ms
    DWORD m_access = WINHTTP_ACCESS_TYPE_NO_PROXY;
    std::wstring m_server; // with WINHTTP_ACCESS_TYPE_NAMED_PROXY, e.g. "127.0.0.1:3128"
    std::wstring m_bypass; // the hosts it is not used for, e.g. "<local>;*.corp"
    bool m_autoDetect = false;
    std::wstring m_autoConfigUrl;
    UniqueInternet m_resolver; // the automatic configuration's session; none once it failed
    std::optional<ProxyUrl> m_named;
};

} // namespace kqget
