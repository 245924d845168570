#include "tools/card-service/byte_formats.h"

#include <array>

namespace kqget::testing {

namespace {

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
constexpr std::size_t kStoredBlockMax = 65535;

void appendBigEndian(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

void appendLittleEndian(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift <= 24; shift += 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

std::string storedDeflate(std::string_view raw)
{
    std::string out;
    do {
        const std::size_t length = std::min(raw.size(), kStoredBlockMax);
        const bool last = length == raw.size();
        out.push_back(last ? '\x01' : '\x00');
        out.push_back(static_cast<char>(length & 0xff));
        out.push_back(static_cast<char>(length >> 8));
        out.push_back(static_cast<char>(~length & 0xff));
        out.push_back(static_cast<char>((~length >> 8) & 0xff));
        out.append(raw.substr(0, length));
        raw.remove_prefix(length);
    } while (!raw.empty());
    return out;
}

std::uint32_t adler32Of(std::string_view bytes)
{
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const char c : bytes) {
        a = (a + static_cast<unsigned char>(c)) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void appendChunk(std::string& png, std::string_view type, std::string_view data)
{
    appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
    const std::string covered = std::string(type) + std::string(data);
    png += covered;
    appendBigEndian(png, crc32Of(covered));
}

} // namespace

std::uint32_t crc32Of(std::string_view bytes)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            }
            entries[n] = c;
        }
        return entries;
    }();
    std::uint32_t crc = 0xffffffffu;
    for (const char c : bytes) {
        crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xff] ^ (crc >> 8);
    }
    return crc ^ 0xffffffffu;
}

std::string storedZlib(std::string_view raw)
{
    std::string out = "\x78\x01";
    out += storedDeflate(raw);
    appendBigEndian(out, adler32Of(raw));
    return out;
}

std::string storedGzip(std::string_view raw)
{
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    out += storedDeflate(raw);
    appendLittleEndian(out, crc32Of(raw));
    appendLittleEndian(out, static_cast<std::uint32_t>(raw.size()));
    return out;
}

std::string pngFile(std::uint32_t width, std::uint32_t height, std::string_view zlibStream,
                    std::size_t idatBytes)
{
    std::string png(kPngSignature);
    std::string header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header +=
        std::string("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB, deflate, no filter, no interlace
    appendChunk(png, "IHDR", header);
    for (std::size_t at = 0; at < zlibStream.size(); at += idatBytes) {
        appendChunk(png, "IDAT", zlibStream.substr(at, idatBytes));
    }
    appendChunk(png, "IEND", {});
    return png;
}

} // namespace kqget::testing
