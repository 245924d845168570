#include "tests/support/posix/test_certificates.h"

#include "tests/support/posix/child_process.h"

#include <stdexcept>

namespace kqget::testing {

TestCertificates::TestCertificates()
{
    // A day outlives any test run; libcurl checks 127.0.0.1 against the
    // subject alternative name.
    const std::vector<std::string> newKey = {
        "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1"};
    const std::vector<std::vector<std::string>> steps = {
        {"-subj", "/CN=kqget test CA", "-keyout", "ca.key", "-out", "ca.pem"},
        {"-subj", "/CN=kqget other CA", "-keyout", "other-ca.key", "-out", "other-ca.pem"},
        {"-CA", "ca.pem", "-CAkey", "ca.key", "-subj", "/CN=127.0.0.1", "-addext",
         "subjectAltName=IP:127.0.0.1", "-addext", "basicConstraints=critical,CA:FALSE", "-keyout",
         "server.key", "-out", "server.pem"},
    };
    for (const auto& step : steps) {
        ChildOptions options;
        options.arguments = {"req", "-x509"};
        options.arguments.insert(options.arguments.end(), newKey.begin(), newKey.end());
        options.arguments.insert(options.arguments.end(), step.begin(), step.end());
        options.workingDirectory = m_dir.path().string();
        const ChildResult result = runChild("/usr/bin/openssl", options);
        if (result.exitStatus != 0) {
            throw std::runtime_error("openssl req failed: " + result.err);
        }
    }
}

} // namespace kqget::testing
