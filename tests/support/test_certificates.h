#pragma once

#include "tests/support/temp_dir.h"

#include <string>

namespace kqget::testing {

// Two throw-away certificate authorities and a certificate for 127.0.0.1 that
// the first one signed, made by the openssl program in a temporary folder.
// The second authority signed nothing: a client that trusts only it must
// refuse the server.
class TestCertificates
{
public:
    TestCertificates();

    std::string serverCertificate() const { return path("server.pem"); }
    std::string serverKey() const { return path("server.key"); }
    std::string signingAuthority() const { return path("ca.pem"); }
    std::string otherAuthority() const { return path("other-ca.pem"); }

private:
    std::string path(std::string_view name) const { return (m_dir.path() / name).string(); }

    TempDir m_dir;
};

} // namespace kqget::testing
