#pragma once

#include <cstddef>

namespace kqget {

// Every system's content check reads a file in pieces of this size, the same
// whatever the file, and feeds them to the checks every system shares
// (png_check.h, xml_check.h).
inline constexpr std::size_t kContentPieceBytes = 64 * 1024;

} // namespace kqget
