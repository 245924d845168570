#include "tests/support/test_certificates.h"

#include "tests/support/child_process.h"

#include <stdexcept>

namespace kqget::testing {

namespace {

constexpr const char* kOpenssl = "/usr/bin/openssl";

void openssl(const std::string& folder, std::vector<std::string> arguments)
{
    ChildOptions options;
    options.arguments = std::move(arguments);
    options.workingDirectory = folder;
    const ChildResult result = runChild(kOpenssl, options);
    if (result.exitStatus != 0) {
        throw std::runtime_error("openssl " + options.arguments.front() + " failed (" +
                                 std::to_string(result.exitStatus) + "): " + result.err);
    }
}

// A self-signed authority: a day is longer than any test run.
void makeAuthority(const std::string& folder, const std::string& stem)
{
    openssl(folder, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                     "-nodes", "-days", "1", "-subj", "/CN=kqget test " + stem, "-keyout",
                     stem + ".key", "-out", stem + ".pem"});
}

} // namespace

TestCertificates::TestCertificates()
{
    const std::string folder = m_dir.path().string();
    makeAuthority(folder, "ca");
    makeAuthority(folder, "other-ca");
    // libcurl checks the address against the subject alternative name.
    openssl(folder, {"req",
                     "-x509",
                     "-CA",
                     "ca.pem",
                     "-CAkey",
                     "ca.key",
                     "-newkey",
                     "ec",
                     "-pkeyopt",
                     "ec_paramgen_curve:prime256v1",
                     "-nodes",
                     "-days",
                     "1",
                     "-subj",
                     "/CN=127.0.0.1",
                     "-addext",
                     "subjectAltName=IP:127.0.0.1",
                     "-addext",
                     "basicConstraints=critical,CA:FALSE",
                     "-keyout",
                     "server.key",
                     "-out",
                     "server.pem"});
}

} // namespace kqget::testing
