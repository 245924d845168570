#include "platform/png_chunks.h"

namespace kqget {

namespace {

constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";
// Length, type and CRC around each chunk's data.
constexpr std::size_t kLengthBytes = 4;
constexpr std::size_t kTypeBytes = 4;
constexpr std::size_t kCrcBytes = 4;

std::uint32_t bigEndian(std::string_view bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

// A chunk type as text, with anything unprintable shown by its code.
std::string typeName(std::string_view type)
{
    std::string name;
    for (const char c : type) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            name.push_back(c);
        } else {
            name += "\\x" + std::to_string(static_cast<unsigned char>(c));
        }
    }
    return name;
}

} // namespace

std::optional<std::string> pngChunkDamage(std::string_view png, Crc32 crc)
{
    if (!png.starts_with(kSignature)) {
        return "no PNG signature";
    }
    std::size_t at = kSignature.size();
    bool first = true;
    while (at < png.size()) {
        if (png.size() - at < kLengthBytes + kTypeBytes) {
            return "file ends inside a chunk header at byte " + std::to_string(at);
        }
        const std::uint64_t length = bigEndian(png.substr(at));
        const std::string_view type = png.substr(at + kLengthBytes, kTypeBytes);
        const std::uint64_t whole = kLengthBytes + kTypeBytes + length + kCrcBytes;
        if (whole > png.size() - at) {
            return "file ends inside chunk " + typeName(type) + " at byte " +
                   std::to_string(png.size());
        }
        if (first && type != "IHDR") {
            return "first chunk is " + typeName(type) + ", not IHDR";
        }
        first = false;
        const std::string_view covered = png.substr(at + kLengthBytes, kTypeBytes + length);
        const std::uint32_t stated = bigEndian(png.substr(at + kLengthBytes + covered.size()));
        if (crc(covered) != stated) {
            return "CRC error in chunk " + typeName(type) + " at byte " + std::to_string(at);
        }
        at += whole;
        if (type == "IEND") {
            if (at != png.size()) {
                return std::to_string(png.size() - at) + " bytes after IEND";
            }
            return std::nullopt;
        }
    }
    return "no IEND chunk: file ends at byte " + std::to_string(png.size());
}

} // namespace kqget
