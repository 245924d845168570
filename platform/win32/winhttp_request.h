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

// What every worker's session is opened with.
struct WinHttpSessionSettings
{
    std::optional<WinHttpProxyChoice> proxy; // none when the named proxy is unusable
    std::wstring userAgent;
};

// One worker's WinHTTP session; its connections are reused by its next fetches.
class WinHttpSession
{
public:
    WinHttpSession(const WinHttpSessionSettings& settings, const TransferOptions& options);

    WinHttpOutcome fetch(const std::string& url, BodySink& sink);

private:
    const TransferOptions& m_options;
    const WinHttpProxyChoice& m_proxy;
    UniqueInternet m_session;
    std::optional<FetchFailure> m_setupFailure;
};

} // namespace kqget
