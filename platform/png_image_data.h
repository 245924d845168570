#pragma once

#include "platform/zlib_stream.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// One of a PNG's four-byte numbers (most significant byte first).
std::uint32_t pngNumber(std::string_view bytes);

// The image IHDR describes and its data (the IDAT chunks' contents, one zlib
// stream), inflated as it comes and thrown away a piece at a time, checked
// for what any decoder would trip over: the zlib stream whole with its
// Adler-32, every row's filter type known, and exactly as many bytes as the
// header's rows take, no more and no fewer. Memory stays at one inflate
// window whatever the image's size.
class PngImageData
{
public:
    // What is wrong with IHDR's 13 bytes ("image too large (30000 x 30000)",
    // "bit depth 3 with colour type 0"), if anything; else the image is theirs.
    std::optional<std::string> readHeader(std::string_view ihdr);
    std::uint8_t colourType() const noexcept { return m_colourType; }
    std::uint64_t pixels() const noexcept { return std::uint64_t{m_width} * m_height; }

    // The next bytes of image data; what is wrong, once something is.
    std::optional<std::string> feed(std::string_view compressed);
    // After the last IDAT chunk: what is wrong when the stream did not end
    // where the image does.
    std::optional<std::string> finish() const;

private:
    std::optional<std::string> consumeRows(std::string_view raw);
    void startPass();
    std::string sizeText() const;

    ZlibStream m_inflater;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    std::uint32_t m_bitsPerPixel = 0;
    std::uint8_t m_colourType = 0;
    int m_pass = 0;               // 0 when not interlaced, 1..7 for Adam7
    std::uint64_t m_rowBytes = 0; // filter byte included
    std::uint64_t m_rowsLeft = 0; // in the pass, the current one included
    std::uint64_t m_rowAt = 0;    // bytes of the current row consumed
    bool m_imageDone = false;
};

} // namespace kqget
