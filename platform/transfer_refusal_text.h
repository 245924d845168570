#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace kqget {

// The words a transfer gives for the fetches it ends on purpose, the same on
// every system.

// A redirect from an https:// address to an http:// one (error 40): the
// request would carry the account key in clear to `location`.
std::string insecureRedirectText(std::string_view location);

// A fetch that went on past the limit on its whole time (error 41), e.g.
// "took longer than 10 minutes".
std::string tookTooLongText(std::chrono::milliseconds limit);

} // namespace kqget
