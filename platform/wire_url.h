#pragma once

#include <string>
#include <string_view>

namespace kqget {

// The URL as it goes on the wire: every byte that may not stand raw in an HTTP
// request target (space, control characters, bytes from 0x80, and
// # " < > \ ^ ` { | }) becomes %XX with upper-case hex. Everything else,
// '%' included, is kept, so a URL that is already encoded passes unchanged.
// Only the request is encoded; logs and messages keep the URL as formed.
std::string wireUrl(std::string_view url);

} // namespace kqget
