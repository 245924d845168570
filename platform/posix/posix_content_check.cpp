#include "platform/posix/posix_content_check.h"

#include "platform/png_chunks.h"
#include "platform/posix/unique_fd.h"
#include "platform/system_error_text.h"
#include "update/transfer_port.h"

#include <cerrno>
#include <expat.h>
#include <fcntl.h>
#include <memory>
#include <spng.h>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace kqget {

namespace {

// Far beyond any card's illustration, and small enough that a header that
// claims more cannot make a row take more than a few megabytes.
constexpr std::uint32_t kLargestSide = 1u << 16;

std::uint32_t zlibCrc(std::string_view bytes)
{
    return static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

struct SpngFree
{
    void operator()(spng_ctx* context) const noexcept { spng_ctx_free(context); }
};

std::optional<std::string> imageDataDamage(std::string_view png)
{
    const std::unique_ptr<spng_ctx, SpngFree> context(spng_ctx_new(0));
    if (!context) {
        throw std::bad_alloc();
    }
    spng_ctx* ctx = context.get();
    // Every CRC has been checked already, over the whole file.
    spng_set_crc_action(ctx, SPNG_CRC_USE, SPNG_CRC_USE);
    spng_set_image_limits(ctx, kLargestSide, kLargestSide);
    spng_set_png_buffer(ctx, png.data(), png.size());
    int result = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE);
    std::size_t imageBytes = 0;
    if (result == 0) {
        result = spng_decoded_image_size(ctx, SPNG_FMT_PNG, &imageBytes);
    }
    spng_ihdr header{};
    if (result == 0) {
        result = spng_get_ihdr(ctx, &header);
    }
    if (result != 0) {
        return "image data: " + std::string(spng_strerror(result));
    }
    std::vector<unsigned char> row(imageBytes / header.height);
    do {
        result = spng_decode_row(ctx, row.data(), row.size());
    } while (result == 0);
    if (result != SPNG_EOI) {
        return "image data: " + std::string(spng_strerror(result));
    }
    return std::nullopt;
}

std::optional<std::string> pngDamage(std::string_view png)
{
    if (auto layout = pngChunkDamage(png, zlibCrc)) {
        return layout;
    }
    return imageDataDamage(png);
}

struct ExpatFree
{
    void operator()(XML_ParserStruct* parser) const noexcept { XML_ParserFree(parser); }
};

std::optional<std::string> xmlDamage(std::string_view xml)
{
    const std::unique_ptr<XML_ParserStruct, ExpatFree> parser(XML_ParserCreate(nullptr));
    if (!parser) {
        throw std::bad_alloc();
    }
    if (XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE) ==
        XML_STATUS_OK) {
        return std::nullopt;
    }
    return std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
           std::to_string(XML_GetCurrentLineNumber(parser.get()));
}

std::optional<std::string> damage(std::string_view bytes, CardFileKind kind)
{
    return kind == CardFileKind::Illustration ? pngDamage(bytes) : xmlDamage(bytes);
}

} // namespace

std::optional<std::string> PosixContentCheck::fileDamage(std::string_view path,
                                                         CardFileKind kind) const
{
    const UniqueFd fd(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info
    {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return "cannot read: " + systemErrorText(errno);
    }
    if (static_cast<std::uint64_t>(info.st_size) > kBodySizeCapBytes) {
        return "over " + std::to_string(kBodySizeCapMiB) + " MiB";
    }
    // One buffer a thread, so that a library of files of much the same size
    // is read without an allocation each.
    thread_local std::string content;
    content.resize(static_cast<std::size_t>(info.st_size));
    std::size_t filled = 0;
    while (filled < content.size()) {
        const ssize_t got = ::read(fd.get(), content.data() + filled, content.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return "cannot read: " + systemErrorText(errno);
        }
        if (got == 0) {
            content.resize(filled); // shortened meanwhile: what is there is checked
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return damage(content, kind);
}

} // namespace kqget
