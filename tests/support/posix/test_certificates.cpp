#include "tests/support/posix/test_certificates.h"

#include "tests/support/posix/child_process.h"

#include <stdexcept>

namespace kqget::testing {

TestCertificates::TestCertificates()
{
    // The same script makes the certificates the tests under Wine use.
    ChildOptions options;
    options.arguments = {KQGET_TEST_CERTIFICATES_SCRIPT, m_dir.path().string()};
    const ChildResult result = runChild("/bin/bash", options);
    if (result.exitStatus != 0) {
        throw std::runtime_error("making test certificates failed: " + result.err);
    }
}

} // namespace kqget::testing
