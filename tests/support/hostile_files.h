#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kqget::testing {

// Files made to cost a checker as much as possible, small on disk.

// A PNG chunk of `type` around `data`, with its CRC.
std::string pngChunk(std::string_view type, std::string_view data);

// A zlib stream of `mebibytes` MiB of zeros: one deflate block that inflates
// to 1 MiB, repeated, so that the stream stays a thousandth of what it gives.
std::string zeroBomb(int mebibytes);

// `png` with `chunk` after its IHDR.
std::string withChunkAfterHeader(std::string png, std::string_view chunk);

// An XML document whose one entity reference expands to 3 GB of text.
std::string billionLaughs();

} // namespace kqget::testing
