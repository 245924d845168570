#pragma once

#include "platform/certificate_reason.h"
#include "platform/win32/winhttp_proxy.h"

#include <optional>
#include <string>
#include <windows.h>

namespace kqget {

// Why WinHTTP refused a server's certificate.

// Whether `error` is one of WinHTTP's refusals of a secure channel.
bool isSecureFailure(DWORD error);

// The reason the error itself, or the flags of WinHTTP's secure-failure
// status, give; none when they name none of a certificate's (a channel
// error, say: all Wine gives).
std::optional<CertificateReason> namedCertificateReason(DWORD error, DWORD secureFailureFlags);

// The reason read from the certificate that the server of `url` presents,
// checked with the system's own chain engine and SSL policy. It is fetched
// through `proxy` on a synchronous session by a HEAD of "/" that ignores
// certificate errors and carries nothing of the run's: no key, no user
// name, no card. None when nothing is wrong with it, or it cannot be had.
std::optional<CertificateReason> probedCertificateReason(WinHttpProxy& proxy,
                                                         const std::wstring& url);

} // namespace kqget
