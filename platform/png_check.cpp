#include "platform/png_check.h"

#include <algorithm>
#include <zlib.h>

namespace kqget {

namespace {

constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";
constexpr std::size_t kChunkHeaderBytes = 8; // length and type
constexpr std::size_t kCrcBytes = 4;
constexpr std::uint32_t kLongestChunk = 0x7fffffffu;
constexpr std::size_t kIhdrBytes = 13;
constexpr std::uint32_t kLongestPalette = 256 * 3;
// What one compressed text or colour profile may inflate to, and all of a
// file's together: far beyond any real profile or caption.
constexpr std::uint64_t kLargestInflatedChunk = std::uint64_t{1} << 20;
constexpr std::uint64_t kLargestInflatedChunks = std::uint64_t{8} << 20;
// A compressed chunk's keyword, language and translated keyword, beyond
// which its text is not looked into (any decoder would refuse such a header).
constexpr std::size_t kLongestTextHeader = 64 * 1024;

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A chunk type as text, with anything unprintable shown by its code.
std::string typeName(std::string_view type)
{
    std::string name;
    for (const char c : type) {
        if (isLetter(c)) {
            name.push_back(c);
        } else {
            name += "\\x" + std::to_string(static_cast<unsigned char>(c));
        }
    }
    return name;
}

bool isCompressedText(std::string_view type)
{
    return type == "zTXt" || type == "iCCP" || type == "iTXt";
}

// The length the format fixes for an ancillary chunk, where it fixes one.
std::optional<std::uint32_t> fixedLength(std::string_view type, std::uint8_t colourType)
{
    constexpr std::pair<std::string_view, std::uint32_t> kFixed[] = {
        {"gAMA", 4}, {"cHRM", 32}, {"sRGB", 1}, {"pHYs", 9}, {"tIME", 7}, {"sTER", 1}, {"oFFs", 9}};
    for (const auto& [name, length] : kFixed) {
        if (type == name) {
            return length;
        }
    }
    if (type == "bKGD") { // a palette index, a grey level or three samples
        return colourType == 3 ? 1 : (colourType == 0 || colourType == 4) ? 2 : 6;
    }
    return std::nullopt;
}

std::uint32_t crcOf(std::uint32_t crc, std::string_view bytes)
{
    return static_cast<std::uint32_t>(
        crc32_z(crc, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

} // namespace

std::optional<std::string> PngCheck::feed(std::string_view piece)
{
    while (!piece.empty()) {
        if (m_stage == Stage::Done) {
            m_afterEnd += piece.size();
            m_at += piece.size();
            return std::nullopt;
        }
        if (m_stage == Stage::Data) {
            const std::string_view data = piece.substr(0, m_dataLeft);
            piece.remove_prefix(data.size());
            m_at += data.size();
            m_dataLeft -= static_cast<std::uint32_t>(data.size());
            m_crc = crcOf(m_crc, data);
            chunkData(data);
            m_stage = m_dataLeft == 0 ? Stage::Crc : Stage::Data;
            continue;
        }
        // The signature, a chunk's header or its CRC, gathered whole first.
        const std::size_t wanted = m_stage == Stage::Signature ? kSignature.size()
                                   : m_stage == Stage::Header  ? kChunkHeaderBytes
                                                               : kCrcBytes;
        const std::string_view part = piece.substr(0, wanted - m_small.size());
        m_small.append(part);
        piece.remove_prefix(part.size());
        m_at += part.size();
        if (m_small.size() < wanted) {
            return std::nullopt;
        }
        if (m_stage == Stage::Signature) {
            if (m_small != kSignature) {
                return std::string("no PNG signature");
            }
            m_small.clear();
            m_stage = Stage::Header;
        } else if (auto wrong = m_stage == Stage::Header ? startChunk() : endChunk()) {
            return wrong;
        }
    }
    return std::nullopt;
}

std::optional<std::string> PngCheck::startChunk()
{
    m_chunkStart = m_at - kChunkHeaderBytes;
    const std::uint32_t length = pngNumber(m_small);
    m_type = m_small.substr(4);
    m_small.clear();
    m_heldDamage.reset();
    const std::string name = typeName(m_type);
    for (const char c : m_type) {
        if (!isLetter(c)) {
            return "chunk type " + name + " at byte " + std::to_string(m_chunkStart) +
                   " is not four letters";
        }
    }
    if (length > kLongestChunk) {
        return "chunk " + name + " claims " + std::to_string(length) + " bytes";
    }
    const bool first = m_chunkStart == kSignature.size();
    if (first != (m_type == "IHDR")) {
        return first ? "first chunk is " + name + ", not IHDR" : std::string("second IHDR chunk");
    }
    if (m_type == "IHDR" && length != kIhdrBytes) {
        return "IHDR is " + std::to_string(length) + " bytes, not 13";
    }
    if (m_sawImageData && !m_imageDataOver && m_type != "IDAT") {
        m_imageDataOver = true;
        if (auto wrong = m_image.finish()) {
            return wrong;
        }
    }
    if (m_type == "IHDR") {
        // Read whole, then judged once its CRC is known to be right.
    } else if (m_type == "IDAT") {
        if (m_imageDataOver) {
            return "IDAT chunks not together: another at byte " + std::to_string(m_chunkStart);
        }
        if (m_image.colourType() == 3 && !m_sawPalette) {
            return std::string("no PLTE chunk before the image data");
        }
        m_sawImageData = true;
    } else if (m_type == "PLTE") {
        if (m_sawImageData || m_sawPalette) {
            return m_sawImageData ? "PLTE after the image data" : "second PLTE chunk";
        }
        if (length == 0 || length % 3 != 0 || length > kLongestPalette) {
            return "PLTE of " + std::to_string(length) + " bytes";
        }
        m_sawPalette = true;
    } else if (m_type == "IEND") {
        if (!m_sawImageData) {
            return std::string("no IDAT chunk");
        }
    } else if (m_type[0] >= 'A' && m_type[0] <= 'Z') {
        return "unknown critical chunk " + name;
    } else if (const auto fixed = fixedLength(m_type, m_image.colourType());
               fixed && *fixed != length) {
        return "chunk " + name + " of " + std::to_string(length) + " bytes, not " +
               std::to_string(*fixed);
    } else if (isCompressedText(m_type)) {
        m_textField = 0;
        m_textHeaderBytes = 0;
        m_textCompressed = true;
    }
    m_crc = crcOf(0, m_type);
    m_dataLeft = length;
    m_stage = length == 0 ? Stage::Crc : Stage::Data;
    return std::nullopt;
}

// What a chunk's data shows is told only once its CRC is known to be right:
// a byte that went wrong on the way is a CRC error, whatever it broke.
void PngCheck::chunkData(std::string_view data)
{
    if (m_heldDamage) {
        return;
    }
    if (m_type == "IHDR") {
        m_ihdr.append(data);
    } else if (m_type == "IDAT") {
        m_heldDamage = m_image.feed(data);
    } else if (isCompressedText(m_type)) {
        m_heldDamage = compressedText(data);
    }
}

std::optional<std::string> PngCheck::compressedText(std::string_view data)
{
    // Before the text: the keyword up to a zero byte (z), iTXt's compression
    // flag (f), the method (m), then iTXt's language and translated keyword
    // (z, z). A byte at a time, as the chunk's pieces may cut anywhere.
    const std::string_view fields = m_type == "iTXt" ? "zfmzz" : "zm";
    for (; !data.empty() && m_textField < fields.size(); data.remove_prefix(1)) {
        const char field = fields[m_textField];
        if (++m_textHeaderBytes > kLongestTextHeader) {
            m_textField = fields.size(); // not looked into
            return std::nullopt;
        }
        if (field == 'f') {
            m_textCompressed = data.front() != 0;
        } else if (field == 'm' && m_textCompressed && data.front() != 0) {
            return "chunk " + m_type + ": unknown compression method";
        }
        if (field != 'z' || data.front() == '\0') {
            ++m_textField;
        }
        if (m_textField == fields.size() && m_textCompressed) {
            m_text = std::make_unique<ZlibStream>();
        }
    }
    if (m_text) {
        // Thrown away as it comes: only its size and soundness count.
        if (auto wrong = m_text->feed(data, [this](std::string_view) -> std::optional<std::string> {
                if (m_text->inflated() <= kLargestInflatedChunk) {
                    return std::nullopt;
                }
                return "inflates to over " + std::to_string(kLargestInflatedChunk >> 20) + " MiB";
            })) {
            return "chunk " + m_type + ": " + *wrong;
        }
    }
    return std::nullopt;
}

std::optional<std::string> PngCheck::endChunk()
{
    const std::uint32_t stated = pngNumber(m_small);
    m_small.clear();
    if (stated != m_crc) {
        return "CRC error in chunk " + typeName(m_type) + " at byte " +
               std::to_string(m_chunkStart);
    }
    if (m_heldDamage) {
        return m_heldDamage;
    }
    m_stage = Stage::Header;
    if (m_type == "IHDR") {
        if (auto wrong = m_image.readHeader(m_ihdr)) {
            return wrong;
        }
    } else if (m_text) {
        if (!m_text->ended()) {
            return "chunk " + m_type + ": zlib stream cut short";
        }
        m_textInflated += m_text->inflated();
        m_text.reset();
        if (m_textInflated > kLargestInflatedChunks) {
            return "compressed chunks inflate to over " +
                   std::to_string(kLargestInflatedChunks >> 20) + " MiB in all";
        }
    } else if (m_type == "IEND") {
        m_stage = Stage::Done;
    }
    return std::nullopt;
}

std::optional<std::string> PngCheck::finish()
{
    switch (m_stage) {
    case Stage::Signature:
        return std::string("no PNG signature");
    case Stage::Header:
        if (m_small.empty()) {
            return "no IEND chunk: file ends at byte " + std::to_string(m_at);
        }
        return "file ends inside a chunk header at byte " + std::to_string(m_at);
    case Stage::Data:
    case Stage::Crc:
        return "file ends inside chunk " + typeName(m_type) + " at byte " + std::to_string(m_at);
    case Stage::Done:
        break;
    }
    if (m_afterEnd > 0) {
        return std::to_string(m_afterEnd) + " bytes after IEND";
    }
    return std::nullopt;
}

} // namespace kqget
