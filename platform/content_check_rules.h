#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kqget {

// What every system's content check shares beyond the PNG walk
// (png_check.h): how files are read, the bounds on XML and the words a
// damaged XML file is reported with, whichever parser found it.

// Files are read in pieces of this size, the same whatever the file.
inline constexpr std::size_t kContentPieceBytes = 64 * 1024;

// Elements may nest this deep; deeper, the document is refused before the
// parser's own stack grows with it.
inline constexpr int kDeepestXmlNesting = 4096;

// Entities may expand a document to this many times its own size, once the
// expanded text is over the threshold: a few kilobytes that expand to
// gigabytes (the "billion laughs") are refused within milliseconds.
inline constexpr float kLargestXmlAmplification = 100.0f;
inline constexpr std::uint64_t kXmlAmplificationThreshold = std::uint64_t{4} << 20;

inline constexpr std::string_view kXmlExpansionOverLimit = "XML entity expansion over the limit";

inline std::string xmlNestedTooDeep()
{
    return "XML nested deeper than " + std::to_string(kDeepestXmlNesting) + " elements";
}

// "XML not well-formed at line 3: mismatched tag".
inline std::string xmlNotWellFormed(std::uint64_t line, std::string_view what)
{
    return "XML not well-formed at line " + std::to_string(line) + ": " + std::string(what);
}

} // namespace kqget
