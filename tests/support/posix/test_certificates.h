#pragma once

#include "tests/support/temp_dir.h"

#include <string>
#include <string_view>

namespace kqget::testing {

// Throw-away certificates, made by the openssl program in a temporary folder:
// "ca.pem" signed "server.pem" (key "server.key") for 127.0.0.1, and
// "other-ca.pem" signed nothing, so a client that trusts only it must refuse.
class TestCertificates
{
public:
    TestCertificates();
    std::string file(std::string_view name) const { return (m_dir.path() / name).string(); }

private:
    TempDir m_dir;
};

} // namespace kqget::testing
