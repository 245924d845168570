#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kqget::testing {

// The formats the service writes, by hand so that the same code builds on
// every system a test runs on: deflate in stored blocks, which any inflater
// reads, wrapped as zlib or gzip, and PNG files around a zlib stream.

std::uint32_t crc32Of(std::string_view bytes);

// `raw` as a zlib stream of stored blocks.
std::string storedZlib(std::string_view raw);

// `raw` as a gzip member of stored blocks, as a server sends with
// Content-Encoding: gzip.
std::string storedGzip(std::string_view raw);

// An 8-bit RGB PNG file whose image data is `zlibStream`, split over IDAT
// chunks of at most `idatBytes` as encoders do.
std::string pngFile(std::uint32_t width, std::uint32_t height, std::string_view zlibStream,
                    std::size_t idatBytes = 8192);

} // namespace kqget::testing
