#include "bench/sound_png.h"

#include "tools/card-service/byte_formats.h"

#include <stdexcept>
#include <zlib.h>

namespace kqget::bench {

std::string soundPng(std::uint32_t width, std::uint32_t height, std::uint64_t seed)
{
    std::uint64_t state = 0x9E3779B97F4A7C15ULL * (seed + 1);
    std::string rows;
    rows.reserve(static_cast<std::size_t>(height) * (1 + width * 3));
    for (std::uint32_t y = 0; y < height; ++y) {
        rows.push_back('\0');
        for (std::uint32_t x = 0; x < width * 3; ++x) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            const unsigned smooth = (x / 3 + y + static_cast<unsigned>(seed)) & 0xE0;
            const unsigned noise = (state >> 4) % 2 == 0 ? 0 : state & 0x03;
            rows.push_back(static_cast<char>(smooth | noise));
        }
    }
    uLongf size = compressBound(static_cast<uLong>(rows.size()));
    std::string stream(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(stream.data()), &size,
                  reinterpret_cast<const Bytef*>(rows.data()), static_cast<uLong>(rows.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        throw std::runtime_error("zlib cannot compress the picture");
    }
    stream.resize(size);
    return testing::pngFile(width, height, stream);
}

} // namespace kqget::bench
