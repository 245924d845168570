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
constexpr std::uint8_t kLastFilterType = 4;              // Paeth

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

std::uint32_t bigEndian(std::string_view bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

int channels(std::uint8_t colourType)
{
    switch (colourType) {
    case 0:
    case 3:
        return 1;
    case 2:
        return 3;
    case 4:
        return 2;
    case 6:
        return 4;
    default:
        return 0;
    }
}

bool depthAllowed(std::uint8_t colourType, std::uint8_t depth)
{
    switch (colourType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    default:
        return depth == 8 || depth == 16;
    }
}

std::string sizeText(const PngHeader& header)
{
    return std::to_string(header.width) + " x " + std::to_string(header.height);
}

} // namespace

ParsedPngHeader parsePngHeader(std::string_view ihdr)
{
    ParsedPngHeader parsed;
    if (ihdr.size() != 13) {
        parsed.damage = "IHDR is " + std::to_string(ihdr.size()) + " bytes, not 13";
        return parsed;
    }
    PngHeader& h = parsed.header;
    h.width = bigEndian(ihdr);
    h.height = bigEndian(ihdr.substr(4));
    h.bitDepth = static_cast<std::uint8_t>(ihdr[8]);
    h.colourType = static_cast<std::uint8_t>(ihdr[9]);
    const auto compression = static_cast<unsigned char>(ihdr[10]);
    const auto filter = static_cast<unsigned char>(ihdr[11]);
    const auto interlace = static_cast<unsigned char>(ihdr[12]);
    h.interlaced = interlace == 1;
    if (h.width == 0 || h.height == 0 || h.width > kLargestPngNumber ||
        h.height > kLargestPngNumber) {
        parsed.damage = "impossible image size (" + sizeText(h) + ")";
    } else if (h.width > kLargestSide || h.height > kLargestSide ||
               std::uint64_t{h.width} * h.height > kLargestPixels) {
        parsed.damage = "image too large (" + sizeText(h) + ")";
    } else if (channels(h.colourType) == 0) {
        parsed.damage = "unknown colour type " + std::to_string(h.colourType);
    } else if (!depthAllowed(h.colourType, h.bitDepth)) {
        parsed.damage = "bit depth " + std::to_string(h.bitDepth) + " with colour type " +
                        std::to_string(h.colourType);
    } else if (compression != 0 || filter != 0 || interlace > 1) {
        parsed.damage = "unknown compression, filter or interlace method in IHDR";
    }
    return parsed;
}

PngImageData::PngImageData(const PngHeader& header)
    : m_inflater(std::make_unique<ZlibStream>()), m_header(header)
{
    m_pass = header.interlaced ? 1 : 0;
    startPass();
}

PngImageData::~PngImageData() = default;

// Moves to the first pass from m_pass on that has pixels; an interlaced
// image narrower or shorter than 8 leaves some passes empty, without rows.
void PngImageData::startPass()
{
    const std::uint64_t bitsPerPixel =
        static_cast<std::uint64_t>(channels(m_header.colourType)) * m_header.bitDepth;
    for (; m_pass < static_cast<int>(kPasses.size()); ++m_pass) {
        const Pass& p = kPasses[static_cast<std::size_t>(m_pass)];
        const std::uint64_t columns =
            m_header.width > p.x0 ? (m_header.width - p.x0 + p.dx - 1) / p.dx : 0;
        const std::uint64_t rows =
            m_header.height > p.y0 ? (m_header.height - p.y0 + p.dy - 1) / p.dy : 0;
        if (columns > 0 && rows > 0) {
            m_rowBytes = 1 + (columns * bitsPerPixel + 7) / 8;
            m_rowsLeft = rows;
            m_rowAt = 0;
            return;
        }
        if (m_pass == 0) {
            break;
        }
    }
    m_imageDone = true;
}

std::optional<std::string> PngImageData::consumeRows(const unsigned char* raw, std::size_t size)
{
    std::size_t at = 0;
    while (at < size) {
        if (m_imageDone) {
            return "image data longer than its " + sizeText(m_header) + " image";
        }
        if (m_rowAt == 0 && raw[at] > kLastFilterType) {
            return "image data: unknown filter type " + std::to_string(raw[at]);
        }
        const std::uint64_t take = std::min<std::uint64_t>(m_rowBytes - m_rowAt, size - at);
        at += static_cast<std::size_t>(take);
        m_rowAt += take;
        if (m_rowAt == m_rowBytes) {
            m_rowAt = 0;
            if (--m_rowsLeft == 0) {
                if (m_pass == 0) {
                    m_imageDone = true;
                } else {
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
    std::optional<std::string> wrong;
    const ZlibStream::Fed fed = m_inflater->feed(compressed, [&](std::string_view piece) {
        wrong = consumeRows(reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
        return !wrong;
    });
    if (wrong) {
        return wrong;
    }
    if (fed.afterEnd) {
        return "image data goes on after its zlib stream ends";
    }
    if (fed.damage) {
        return "image data: " + *fed.damage;
    }
    return std::nullopt;
}

std::optional<std::string> PngImageData::finish() const
{
    if (!m_imageDone) {
        return "image data too short for its " + sizeText(m_header) + " image";
    }
    if (!m_inflater->ended()) {
        return std::string("image data: zlib stream cut short (no Adler-32)");
    }
    return std::nullopt;
}

} // namespace kqget
