#pragma once

#include <string>
#include <string_view>

namespace kqget {

// Why a server's certificate was refused, as far as a user can act on it.
// Each system finds the reason its own way; the words are the same on all.
enum class CertificateReason
{
    Expired,
    Untrusted,
    WrongName,
    Revoked,
};

// The reason's words, e.g. "the server's certificate has expired or is not
// yet valid", then the system's own account of the failure, which keeps the
// detail a support request needs.
std::string certificateFailureText(CertificateReason reason, std::string_view systemText);

} // namespace kqget
