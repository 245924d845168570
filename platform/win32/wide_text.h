#pragma once

#include <string>
#include <string_view>

namespace kqget {

// Paths and texts are UTF-8 inside kqget and UTF-16 at the Windows API. Bytes
// that are not UTF-8 become U+FFFD, as the system itself converts them.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

} // namespace kqget
