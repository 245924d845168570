#pragma once

#include "platform/certificate_reason.h"

#include <optional>
#include <string>
#include <windows.h> // with wincrypt.h

namespace kqget {

// Why Windows refuses a server's certificate, from what WinHTTP says or from
// the certificate itself.

// From the flags of WinHTTP's secure-failure status; none when they name no
// reason of the certificate's (a channel error, say).
std::optional<CertificateReason> certificateReasonOfFlags(DWORD flags);

// From a WinHTTP error that names the reason by itself.
std::optional<CertificateReason> certificateReasonOfError(DWORD error);

// Checks `certificate`, as a server `host` presented it, with the system's own
// chain engine and SSL policy; none when the system finds nothing wrong.
std::optional<CertificateReason> checkServerCertificate(PCCERT_CONTEXT certificate,
                                                        const std::wstring& host);

} // namespace kqget
