#pragma once

#include "platform/certificate_reason.h"
#include "platform/win32/winhttp_proxy.h"

#include <optional>
#include <string>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

// Finding out why WinHTTP refused a server's certificate.

// Whether `error` is one of WinHTTP's refusals of a secure channel.
bool isSecureFailure(DWORD error);

// The reason the error itself, or the flags of WinHTTP's secure-failure
// status, give; none when they name none of a certificate's.
std::optional<CertificateReason> namedCertificateReason(DWORD error, DWORD secureFailureFlags);

// The server a refused request went to, as the probe reaches it again.
struct RefusedServer
{
    std::wstring host; // as in the URL, for the name check
    INTERNET_PORT port = 0;
    std::wstring originUrl; // "https://host:port/", for the proxy's choice
};

// Why the server's certificate was refused, read from the certificate
// itself through a HEAD of "/" over `session` (synchronous) that ignores
// certificate errors and carries nothing of the run's. None when it was no
// certificate's fault, or the reason cannot be found.
std::optional<CertificateReason> probedCertificateReason(HINTERNET session,
                                                         const WinHttpProxyChoice& proxy,
                                                         const RefusedServer& server);

} // namespace kqget
