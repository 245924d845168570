#include "tests/support/hostile_files.h"

#include <zlib.h>

namespace kqget::testing {

namespace {

constexpr std::size_t kIhdrEnd = 33; // signature and IHDR

std::string bigEndian(std::uint32_t value)
{
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
    return out;
}

} // namespace

std::string pngChunk(std::string_view type, std::string_view data)
{
    const std::string covered = std::string(type) + std::string(data);
    const auto crc = crc32_z(0, reinterpret_cast<const Bytef*>(covered.data()), covered.size());
    return bigEndian(static_cast<std::uint32_t>(data.size())) + covered +
           bigEndian(static_cast<std::uint32_t>(crc));
}

std::string zeroBomb(int mebibytes)
{
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string zeros(1 << 20, '\0');
    std::string block(deflateBound(&z, zeros.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(block.data());
    z.avail_out = static_cast<uInt>(block.size());
    deflate(&z, Z_FULL_FLUSH); // byte-aligned, and no reference to what came before
    block.resize(block.size() - z.avail_out);
    deflateEnd(&z);
    std::string stream = "\x78\xda";
    for (int i = 0; i < mebibytes; ++i) {
        stream += block;
    }
    // The last block, empty, and the Adler-32 of that many zeros.
    const auto sum = static_cast<std::uint32_t>(
        ((std::uint64_t{1} << 20) * static_cast<std::uint64_t>(mebibytes)) % 65521);
    return stream + std::string("\x03\x00", 2) + bigEndian((sum << 16) | 1);
}

std::string withChunkAfterHeader(std::string png, std::string_view chunk)
{
    return png.insert(kIhdrEnd, chunk);
}

std::string billionLaughs()
{
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i < 10; ++i) {
        xml += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) {
            xml += "&l" + std::to_string(i - 1) + ";";
        }
        xml += "\">\n";
    }
    return xml + "]>\n<lolz>&l9;</lolz>\n";
}

} // namespace kqget::testing
