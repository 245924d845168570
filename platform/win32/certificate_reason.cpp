#include "platform/win32/certificate_reason.h"

#include "platform/win32/unique_handle.h"

#include <winhttp.h>

namespace kqget {

namespace {

using UniqueChain = UniqueHandle<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>;

// A failure may have several reasons; the one the user must fix first comes
// first: a revoked or unknown certificate is no good whatever its dates and names.
constexpr struct
{
    DWORD flag;
    CertificateReason reason;
} kFlagReasons[] = {
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, CertificateReason::Revoked},
    {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, CertificateReason::Untrusted},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, CertificateReason::Expired},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, CertificateReason::WrongName},
};

constexpr struct
{
    DWORD status;
    CertificateReason reason;
} kChainStatusReasons[] = {
    {CERT_TRUST_IS_REVOKED, CertificateReason::Revoked},
    {CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN, CertificateReason::Untrusted},
    {CERT_TRUST_IS_NOT_TIME_VALID, CertificateReason::Expired},
};

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

std::optional<CertificateReason> reasonOfChainStatus(DWORD status)
{
    for (const auto& known : kChainStatusReasons) {
        if ((status & known.status) != 0) {
            return known.reason;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<CertificateReason> certificateReasonOfFlags(DWORD flags)
{
    for (const auto& known : kFlagReasons) {
        if ((flags & known.flag) != 0) {
            return known.reason;
        }
    }
    return std::nullopt;
}

std::optional<CertificateReason> certificateReasonOfError(DWORD error)
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
        return std::nullopt;
    }
}

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
    return reasonOfChainStatus(chain.get()->TrustStatus.dwErrorStatus);
}

} // namespace kqget
