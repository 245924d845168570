#pragma once

#include "tests/support/temp_dir.h"

#include <string>
#include <string_view>

namespace kqget::testing {

// Throw-away certificates in a temporary folder, made by
// make_test_certificates.sh (which lists them): "ca.pem" signed "server.pem"
// (key "server.key") for 127.0.0.1, and each kind of refused certificate.
class TestCertificates
{
public:
    TestCertificates();
    std::string file(std::string_view name) const { return (m_dir.path() / name).string(); }

private:
    TempDir m_dir;
};

} // namespace kqget::testing
