#pragma once

#include "platform/zlib_stream.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// What IHDR says of the image.
struct PngHeader
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t bitDepth = 0;
    std::uint8_t colourType = 0;
    bool interlaced = false;
};

// The header in IHDR's 13 bytes, or what is wrong with it ("image too large
// (30000 x 30000)", "bit depth 3 with colour type 0").
struct ParsedPngHeader
{
    PngHeader header;
    std::optional<std::string> damage;
};
ParsedPngHeader parsePngHeader(std::string_view ihdr);

// The image data (the IDAT chunks' contents, one zlib stream) inflated as it
// comes and thrown away a piece at a time, checked for what any decoder would
// trip over: the zlib stream whole with its Adler-32, every row's filter type
// known, and exactly as many bytes as the header's rows take, no more and no
// fewer. Memory stays at one inflate window whatever the image's size.
class PngImageData
{
public:
    explicit PngImageData(const PngHeader& header);
    ~PngImageData();
    PngImageData(const PngImageData&) = delete;
    PngImageData& operator=(const PngImageData&) = delete;

    // The next bytes of image data; what is wrong, once something is.
    std::optional<std::string> feed(std::string_view compressed);
    // After the last IDAT chunk: what is wrong when the stream did not end
    // where the image does.
    std::optional<std::string> finish() const;

private:
    std::optional<std::string> consumeRows(const unsigned char* raw, std::size_t size);
    void startPass();

    std::unique_ptr<ZlibStream> m_inflater;
    PngHeader m_header;
    int m_pass = 0;               // 0 when not interlaced, 1..7 for Adam7
    std::uint64_t m_rowBytes = 0; // filter byte included
    std::uint64_t m_rowsLeft = 0; // in the pass, the current one included
    std::uint64_t m_rowAt = 0;    // bytes of the current row consumed
    bool m_imageDone = false;
};

} // namespace kqget
