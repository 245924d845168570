#include "platform/win32/winhttp_certificate_probe.h"

#include "platform/win32/certificate_reason.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/winhttp_request.h"

namespace kqget {

namespace {

using UniqueCertificate = UniqueHandle<PCCERT_CONTEXT, ::CertFreeCertificateContext>;

// The certificate the server presents, read over a connection that accepts
// it whatever its faults. Only a HEAD of "/" goes to the refused server: no
// key, no user name, no card.
UniqueCertificate presentedCertificate(HINTERNET session, const WinHttpProxyChoice& proxy,
                                       const RefusedServer& server)
{
    const UniqueInternet connection(::WinHttpConnect(session, server.host.c_str(), server.port, 0));
    if (!connection) {
        return {};
    }
    const UniqueInternet request(
        ::WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                   SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    if (!request ||
        !::WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore) ||
        !proxy.applyTo(session, request.get(), server.originUrl) ||
        !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return {};
    }
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof certificate;
    if (!::WinHttpQueryOption(request.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate,
                              &size)) {
        return {};
    }
    return UniqueCertificate(certificate);
}

} // namespace

bool isSecureFailure(DWORD error)
{
    return error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
           error == ERROR_WINHTTP_SECURE_INVALID_CERT;
}

std::optional<CertificateReason> namedCertificateReason(DWORD error, DWORD secureFailureFlags)
{
    if (const auto named = certificateReasonOfError(error)) {
        return named;
    }
    if (!isSecureFailure(error)) {
        return std::nullopt;
    }
    return certificateReasonOfFlags(secureFailureFlags);
}

std::optional<CertificateReason> probedCertificateReason(HINTERNET session,
                                                         const WinHttpProxyChoice& proxy,
                                                         const RefusedServer& server)
{
    const UniqueCertificate certificate = presentedCertificate(session, proxy, server);
    if (!certificate) {
        return std::nullopt;
    }
    return checkServerCertificate(certificate.get(), server.host);
}

} // namespace kqget
