#include "platform/win32/winhttp_certificate_probe.h"

#include "platform/win32/certificate_reason.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/winhttp_request.h"

namespace kqget {

namespace {

using UniqueCertificate = UniqueHandle<PCCERT_CONTEXT, ::CertFreeCertificateContext>;

bool isSecureFailure(DWORD error)
{
    return error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
           error == ERROR_WINHTTP_SECURE_INVALID_CERT;
}

// The certificate the server presents, read over a connection that accepts
// it whatever its faults. Only a HEAD of "/" goes to the refused server: no
// key, no user name, no card.
UniqueCertificate presentedCertificate(const RefusedServer& server)
{
    const UniqueInternet request(
        ::WinHttpOpenRequest(server.connection, L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                   SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    if (!request ||
        !::WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore) ||
        !server.proxy.applyTo(server.session, request.get(), server.originUrl) ||
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

SecureFailureWatch::SecureFailureWatch(HINTERNET request) noexcept : m_request(request)
{
    m_watching = ::WinHttpSetStatusCallback(request, &SecureFailureWatch::onStatus,
                                            WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                                            0) != WINHTTP_INVALID_STATUS_CALLBACK;
}

SecureFailureWatch::~SecureFailureWatch()
{
    if (m_watching) {
        ::WinHttpSetStatusCallback(m_request, nullptr, 0, 0);
    }
}

void CALLBACK SecureFailureWatch::onStatus(HINTERNET, DWORD_PTR context, DWORD status,
                                           void* information, DWORD length) noexcept
{
    if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE || context == 0 ||
        information == nullptr || length < sizeof(DWORD)) {
        return;
    }
    reinterpret_cast<SecureFailureWatch*>(context)->m_flags |= *static_cast<DWORD*>(information);
}

std::optional<CertificateReason>
refusedCertificateReason(DWORD error, const SecureFailureWatch& watch, const RefusedServer& server)
{
    if (const auto named = certificateReasonOfError(error)) {
        return named;
    }
    if (!isSecureFailure(error)) {
        return std::nullopt;
    }
    if (const auto delivered = certificateReasonOfFlags(watch.flags())) {
        return delivered;
    }
    const UniqueCertificate certificate = presentedCertificate(server);
    if (!certificate) {
        return std::nullopt;
    }
    return checkServerCertificate(certificate.get(), server.host);
}

} // namespace kqget
