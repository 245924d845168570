#pragma once

#include "platform/certificate_reason.h"
#include "platform/win32/winhttp_proxy.h"

#include <atomic>
#include <optional>
#include <string>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

// Finding out why WinHTTP refused a server's certificate.

// Keeps the flags of WinHTTP's secure-failure status for one request, where
// the system delivers it. Lives while the request is sent; its context() goes
// to WinHttpSendRequest.
class SecureFailureWatch
{
public:
    explicit SecureFailureWatch(HINTERNET request) noexcept;
    ~SecureFailureWatch();
    SecureFailureWatch(const SecureFailureWatch&) = delete;
    SecureFailureWatch& operator=(const SecureFailureWatch&) = delete;

    DWORD_PTR context() noexcept { return reinterpret_cast<DWORD_PTR>(this); }
    DWORD flags() const noexcept { return m_flags.load(); }

private:
    static void CALLBACK onStatus(HINTERNET request, DWORD_PTR context, DWORD status,
                                  void* information, DWORD length) noexcept;

    HINTERNET m_request;
    bool m_watching = false;
    std::atomic<DWORD> m_flags{0};
};

// The server a refused request went to, as the probe reaches it again.
struct RefusedServer
{
    HINTERNET session;
    HINTERNET connection;   // to the server's host and port
    std::wstring host;      // as in the URL, for the name check
    std::wstring originUrl; // "https://host:port/", for the proxy's choice
    const WinHttpProxyChoice& proxy;
};

// Why the request that failed with `error` had the server's certificate
// refused: from the error or the status watched where they say, otherwise
// from the certificate itself, read through a HEAD of "/" that ignores
// certificate errors and carries nothing of the run's. None when it was no
// certificate's fault, or the reason cannot be found.
std::optional<CertificateReason>
refusedCertificateReason(DWORD error, const SecureFailureWatch& watch, const RefusedServer& server);

} // namespace kqget
