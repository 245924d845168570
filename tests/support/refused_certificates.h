#pragma once

#include "platform/certificate_reason.h"

#include <string_view>

namespace kqget::testing {

// The servers' certificates every system must refuse, by their names in
// make_test_certificates.sh, and why, while the client trusts ca.pem.
struct RefusedCertificate
{
    std::string_view name;
    CertificateReason reason;
};

inline constexpr RefusedCertificate kRefusedCertificates[] = {
    {"expired", CertificateReason::Expired},
    {"stranger", CertificateReason::Untrusted},
    {"wrong-name", CertificateReason::WrongName},
};

} // namespace kqget::testing
