#include "platform/certificate_reason.h"

namespace kqget {

std::string certificateFailureText(CertificateReason reason, std::string_view systemText)
{
    std::string text = "the server's certificate ";
    switch (reason) {
    case CertificateReason::Expired:
        text += "has expired or is not yet valid";
        break;
    case CertificateReason::Untrusted:
        text += "is not from an authority this system trusts";
        break;
    case CertificateReason::WrongName:
        text += "is for another host name";
        break;
    case CertificateReason::Revoked:
        text += "has been revoked";
        break;
    }
    return text.append(": ").append(systemText);
}

} // namespace kqget
