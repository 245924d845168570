#include "platform/win32/certificate_reason.h"

#include "platform/win32/unique_handle.h"

#include <span>

namespace kqget {

namespace {

using UniqueChain = UniqueHandle<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>;
using UniqueCertificate = UniqueHandle<PCCERT_CONTEXT, ::CertFreeCertificateContext>;

struct FlagReason
{
    DWORD flags;
    CertificateReason reason;
};

// A failure may have several reasons; the one the user must fix first comes
// first: a revoked or unknown certificate is no good whatever its dates and names.
constexpr FlagReason kFlagReasons[] = {
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, CertificateReason::Revoked},
    {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, CertificateReason::Untrusted},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, CertificateReason::Expired},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, CertificateReason::WrongName},
};

constexpr FlagReason kChainStatusReasons[] = {
    {CERT_TRUST_IS_REVOKED, CertificateReason::Revoked},
    {CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN, CertificateReason::Untrusted},
    {CERT_TRUST_IS_NOT_TIME_VALID, CertificateReason::Expired},
};

// The reason of the first row whose flags `flags` has.
std::optional<CertificateReason> firstReason(std::span<const FlagReason> table, DWORD flags)
{
    for (const FlagReason& known : table) {
        if ((flags & known.flags) != 0) {
            return known.reason;
        }
    }
    return std::nullopt;
}

std::optional<CertificateReason> reasonOfPolicyError(DWORD error)
{
    switch (static_cast<HRESULT>(error)) {
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
        return CertificateReason::Expired;
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
    case CERT_E_UNTRUSTEDCA:
        return CertificateReason::Untrusted;
    case CERT_E_CN_NO_MATCH:
        return CertificateReason::WrongName;
    case CRYPT_E_REVOKED:
        return CertificateReason::Revoked;
    default:
        return std::nullopt;
    }
}

// Checks `certificate`, as a server `host` presented it, with the system's own
// chain engine and SSL policy; none when the system finds nothing wrong.
std::optional<CertificateReason> checkServerCertificate(PCCERT_CONTEXT certificate,
                                                        const std::wstring& host)
{
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    PCCERT_CHAIN_CONTEXT chainContext = nullptr;
    // The server's own store holds the intermediates it sent. Revocation is
    // left to WinHTTP's own status: an unknown revocation state would hide
    // the reason this check is for.
    if (!::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                   &chainPara, 0, nullptr, &chainContext)) {
        return std::nullopt;
    }
    const UniqueChain chain(chainContext);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status)) {
        return std::nullopt;
    }
    if (const auto reason = reasonOfPolicyError(status.dwError)) {
        return reason;
    }
    // A policy may pass a chain whose own status says it is broken (Wine's
    // passes one that ends at no root): the status still says why.
    return firstReason(kChainStatusReasons, chain.get()->TrustStatus.dwErrorStatus);
}

// The certificate the server presents, read over a connection that accepts
// it whatever its faults.
UniqueCertificate presentedCertificate(HINTERNET connection, WinHttpProxy& proxy,
                                       const std::wstring& origin)
{
    const UniqueInternet request(
        ::WinHttpOpenRequest(connection, L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                   SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof certificate;
    if (!request ||
        !::WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore) ||
        proxy.applyTo(request.get(), origin) ||
        !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpQueryOption(request.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate,
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
    switch (error) {
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        return CertificateReason::Revoked;
    case ERROR_WINHTTP_SECURE_INVALID_CA:
        return CertificateReason::Untrusted;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        return CertificateReason::Expired;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        return CertificateReason::WrongName;
    default:
        return isSecureFailure(error) ? firstReason(kFlagReasons, secureFailureFlags)
                                      : std::nullopt;
    }
}

std::optional<CertificateReason> probedCertificateReason(WinHttpProxy& proxy,
                                                         const std::wstring& url)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return std::nullopt;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const UniqueInternet session = proxy.openSession(0);
    const UniqueInternet connection(
        session ? ::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0) : nullptr);
    const std::wstring origin = L"https://" + host + L":" + std::to_wstring(parts.nPort) + L"/";
    const UniqueCertificate certificate =
        connection ? presentedCertificate(connection.get(), proxy, origin) : UniqueCertificate();
    if (!certificate) {
        return std::nullopt;
    }
    return checkServerCertificate(certificate.get(), host);
}

} // namespace kqget
