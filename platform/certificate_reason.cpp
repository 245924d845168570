#include "platform/certificate_reason.h"

namespace kqget {

std::string_view certificateReasonText(CertificateReason reason)
{
    switch (reason) {
    case CertificateReason::Expired:
        return "the server's certificate has expired or is not yet valid";
    case CertificateReason::Untrusted:
        return "the server's certificate is not from an authority this system trusts";
    case CertificateReason::WrongName:
        return "the server's certificate is for another host name";
    case CertificateReason::Revoked:
        return "the server's certificate has been revoked";
    }
    return "the server's certificate was refused";
}

std::string certificateFailureText(CertificateReason reason, std::string_view systemText)
{
    std::string text(certificateReasonText(reason));
    text.append(": ").append(systemText);
    return text;
}

} // namespace kqget
