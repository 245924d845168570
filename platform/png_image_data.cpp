#include "platform/png_image_data.h"

#include <algorithm>
#include <array>

namespace kqget {

namespace {

// Far beyond any card's illustration, and small enough that checking the
// largest image accepted costs seconds, not minutes.
constexpr std::uint64_t kLargestSide = 16384;
constexpr std::uint64_t kLargestPixels = std::uint64_t{64} << 20;
constexpr std::uint32_t kLargestPngNumber = 0x7fffffffu; // lengths and sides
constexpr unsigned char kLastFilterType = 4;             // Paeth

// Each colour type's samples per pixel, and the bit depths it allows, one
// bit each (1 << depth).
struct ColourType
{
    std::uint8_t type, channels;
    std::uint32_t depths;
};
constexpr ColourType kColourTypes[] = {
    {0, 1, 0x10116}, {2, 3, 0x10100}, {3, 1, 0x116}, {4, 2, 0x10100}, {6, 4, 0x10100}};

// Adam7's passes: first column and row, and the steps between them.
struct Pass
{
    std::uint32_t x0, y0, dx, dy;
};
constexpr std::array<Pass, 8> kPasses{{{0, 0, 1, 1}, // not interlaced
                                       {0, 0, 8, 8},
                                       {4, 0, 8, 8},
                                       {0, 4, 4, 8},
                                       {2, 0, 4, 4},
                                       {0, 2, 2, 4},
                                       {1, 0, 2, 2},
                                       {0, 1, 1, 2}}};

} // namespace

std::uint32_t pngNumber(std::string_view bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

std::string PngImageData::sizeText() const
{
    return std::to_string(m_width) + " x " + std::to_string(m_height);
}

std::optional<std::string> PngImageData::readHeader(std::string_view ihdr)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(ihdr[at]); };
    m_width = pngNumber(ihdr);
    m_height = pngNumber(ihdr.substr(4));
    const unsigned depth = byte(8);
    m_colourType = byte(9);
    const auto* type = std::find_if(std::begin(kColourTypes), std::end(kColourTypes),
                                    [&](const ColourType& t) { return t.type == m_colourType; });
    if (m_width == 0 || m_height == 0 || m_width > kLargestPngNumber ||
        m_height > kLargestPngNumber) {
        return "impossible image size (" + sizeText() + ")";
    }
    if (m_width > kLargestSide || m_height > kLargestSide || pixels() > kLargestPixels) {
        return "image too large (" + sizeText() + ")";
    }
    if (type == std::end(kColourTypes)) {
        return "unknown colour type " + std::to_string(m_colourType);
    }
    if (depth > 16 || ((type->depths >> depth) & 1) == 0) {
        return "bit depth " + std::to_string(depth) + " with colour type " +
               std::to_string(m_colourType);
    }
    if (byte(10) != 0 || byte(11) != 0 || byte(12) > 1) {
        return std::string("unknown compression, filter or interlace method in IHDR");
    }
    m_bitsPerPixel = type->channels * depth;
    m_pass = byte(12) == 1 ? 1 : 0;
    startPass();
    return std::nullopt;
}

// Moves to the first pass from m_pass on that has pixels; an interlaced
// image narrower or shorter than 8 leaves some passes empty, without rows.
void PngImageData::startPass()
{
    for (; m_pass < static_cast<int>(kPasses.size()); ++m_pass) {
        const Pass& p = kPasses[static_cast<std::size_t>(m_pass)];
        const std::uint64_t columns = m_width > p.x0 ? (m_width - p.x0 + p.dx - 1) / p.dx : 0;
        const std::uint64_t rows = m_height > p.y0 ? (m_height - p.y0 + p.dy - 1) / p.dy : 0;
        if (columns > 0 && rows > 0) {
            m_rowBytes = 1 + (columns * m_bitsPerPixel + 7) / 8;
            m_rowsLeft = rows;
            return;
        }
        if (m_pass == 0) {
            break;
        }
    }
    m_imageDone = true;
}

std::optional<std::string> PngImageData::consumeRows(std::string_view raw)
{
    while (!raw.empty()) {
        if (m_imageDone) {
            return "image data longer than its " + sizeText() + " image";
        }
        if (m_rowAt == 0 && static_cast<unsigned char>(raw[0]) > kLastFilterType) {
            return "image data: unknown filter type " +
                   std::to_string(static_cast<unsigned char>(raw[0]));
        }
        const std::uint64_t take = std::min<std::uint64_t>(m_rowBytes - m_rowAt, raw.size());
        raw.remove_prefix(static_cast<std::size_t>(take));
        m_rowAt += take;
        if (m_rowAt == m_rowBytes) {
            m_rowAt = 0;
            if (--m_rowsLeft == 0) {
                m_imageDone = m_pass == 0;
                if (!m_imageDone) { // on to the next pass that has pixels
                    ++m_pass;
                    startPass();
                }
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> PngImageData::feed(std::string_view compressed)
{
    std::optional<std::string> rows;
    auto wrong = m_inflater.feed(compressed, [&](std::string_view piece) {
        rows = consumeRows(piece);
        return rows;
    });
    if (!wrong || rows) {
        return wrong;
    }
    if (*wrong == ZlibStream::kAfterEnd) {
        return std::string("image data goes on after its zlib stream ends");
    }
    return "image data: " + *wrong;
}

std::optional<std::string> PngImageData::finish() const
{
    if (!m_imageDone) {
        return "image data too short for its " + sizeText() + " image";
    }
    if (!m_inflater.ended()) {
        return std::string("image data: zlib stream cut short (no Adler-32)");
    }
    return std::nullopt;
}

} // namespace kqget
