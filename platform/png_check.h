#pragma once

#include "platform/png_image_data.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// Whether a PNG file is whole, fed a piece at a time as it is read, so that
// memory stays the same whatever the file: the signature; every chunk whole,
// with its CRC right and its type made of letters; IHDR first and sane, its
// image at most 16384 pixels a side and 64 Mi pixels in all; a palette where
// the colour type needs one; the IDAT chunks together and their image data
// whole (png_image_data.h); each compressed text or colour profile inflating
// to at most 1 MiB; IEND last and nothing after it. Every system runs it
// before its own decoder sees the file, so that each judges a file alike and
// no decoder meets a header that would cost it gigabytes.
class PngCheck
{
public:
    // The next bytes of the file; what is wrong, once something is (then
    // stop feeding).
    std::optional<std::string> feed(std::string_view piece);
    // At the end of the file: what is wrong if it ended where it must not.
    std::optional<std::string> finish();
    // The image's pixels, once IHDR has been read whole and sane.
    std::uint64_t pixels() const noexcept { return m_image.pixels(); }

private:
    std::optional<std::string> startChunk();
    void chunkData(std::string_view data);
    std::optional<std::string> endChunk();
    std::optional<std::string> compressedText(std::string_view data);

    enum class Stage
    {
        Signature,
        Header,
        Data,
        Crc,
        Done
    };
    Stage m_stage = Stage::Signature;
    std::uint64_t m_at = 0;         // bytes of the file seen
    std::uint64_t m_chunkStart = 0; // where the current chunk began
    std::string m_small;            // signature, chunk header or CRC, as they come
    std::string m_ihdr;
    std::uint64_t m_afterEnd = 0; // bytes after IEND
    std::string m_type;
    std::uint32_t m_dataLeft = 0;
    std::uint32_t m_crc = 0;
    std::optional<std::string> m_heldDamage; // told once the chunk's CRC is right
    PngImageData m_image;
    bool m_sawPalette = false;
    bool m_sawImageData = false;
    bool m_imageDataOver = false; // a chunk after the IDAT chunks was seen
    // A compressed ancillary chunk: the fields before its text, then the
    // text's inflater.
    std::size_t m_textField = 0;
    std::size_t m_textHeaderBytes = 0;
    bool m_textCompressed = true;
    std::unique_ptr<ZlibStream> m_text;
    std::uint64_t m_textInflated = 0; // over the file's compressed chunks
};

} // namespace kqget
