#pragma once

#include <string>

namespace kqget::testing {

// The stand-in card service as the HTTP proxy that a test's fetches go
// through, e.g. "http://127.0.0.1:40123", so that the program's own host
// names reach it. On Linux a service in this process, started by the first
// call; under Wine the one the test run started on the Linux side
// (tests/windows/card_service.sh). Either answers every host plainly.
std::string cardServiceProxy();

} // namespace kqget::testing
