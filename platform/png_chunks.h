#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// The CRC-32 of PNG chunks (the one zlib and the system compute).
using Crc32 = std::uint32_t (*)(std::string_view bytes);

// What is wrong with the layout of a PNG file, in a few words: the signature,
// every chunk whole with its CRC right, IHDR first, IEND last and nothing
// after it. None when the layout is sound; the image data is the decoder's.
std::optional<std::string> pngChunkDamage(std::string_view png, Crc32 crc);

} // namespace kqget
