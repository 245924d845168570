#pragma once

#include <string>
#include <string_view>

namespace kqget {

// `text` as one component of a URL: the unreserved characters of RFC 3986
// (letters, digits, "-._~") as they are, every other byte as %XX with
// upper-case hex. A service that decodes the component, with '+' read as a
// space or not, gets back exactly `text`; nothing in it can end a value,
// start another field or a fragment, or climb out of a path segment.
std::string uriComponent(std::string_view text);

} // namespace kqget
