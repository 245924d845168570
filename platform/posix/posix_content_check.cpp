#include "platform/posix/posix_content_check.h"

#include "platform/card_file_check.h"
#include "platform/posix/unique_fd.h"
#include "platform/system_error_text.h"
#include "update/transfer_port.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <spng.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kqget {

namespace {

// What libspng may hold of a file's chunks: the walk has bounded every
// compressed chunk before libspng runs; this is a second fence.
constexpr std::size_t kSpngChunkCache = std::size_t{16} << 20;

struct SpngFree
{
    void operator()(spng_ctx* context) const noexcept { spng_ctx_free(context); }
};

// A read that goes on after a signal.
ssize_t readSome(int fd, char* into, std::size_t size)
{
    ssize_t got = 0;
    do {
        got = ::read(fd, into, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

// libspng's reads, from the file as it goes.
int readForSpng(spng_ctx*, void* user, void* destination, std::size_t length)
{
    auto* at = static_cast<char*>(destination);
    while (length > 0) {
        const ssize_t got = readSome(*static_cast<int*>(user), at, length);
        if (got <= 0) {
            return got == 0 ? SPNG_IO_EOF : SPNG_IO_ERROR;
        }
        at += got;
        length -= static_cast<std::size_t>(got);
    }
    return 0;
}

// libspng's own rules over a file the walk found whole: what the chunks
// before the image data say (palette, transparency, colour space, text). The
// image data it is not asked to decode: the walk has inflated and checked
// all of it already, and inflating it twice would double the check's cost.
std::optional<std::string> decoderDamage(int fd)
{
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        return "cannot read: " + systemErrorText(errno);
    }
    // The walk has checked every CRC and the image data's Adler-32.
    const std::unique_ptr<spng_ctx, SpngFree> context(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!context) {
        throw std::bad_alloc();
    }
    spng_ctx* ctx = context.get();
    int fdCopy = fd;
    spng_set_crc_action(ctx, SPNG_CRC_USE, SPNG_CRC_USE);
    spng_set_chunk_limits(ctx, kBodySizeCapBytes, kSpngChunkCache);
    spng_set_png_stream(ctx, readForSpng, &fdCopy);
    if (const int result = spng_decode_chunks(ctx); result != 0) {
        return "chunks: " + std::string(spng_strerror(result));
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> PosixContentCheck::fileDamage(std::string_view path,
                                                         CardFileKind kind) const
{
    const UniqueFd fd(::open(m_wine.toLinux(path).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info
    {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return "cannot read: " + systemErrorText(errno);
    }
    const auto read = [&](std::span<char>& piece) -> std::optional<std::string> {
        const ssize_t got = readSome(fd.get(), piece.data(), piece.size());
        if (got < 0) {
            return "cannot read: " + systemErrorText(errno);
        }
        piece = piece.first(static_cast<std::size_t>(got));
        return std::nullopt;
    };
    std::uint64_t pixels = 0;
    if (auto wrong = sharedDamage(kind, static_cast<std::uint64_t>(info.st_size), read, pixels)) {
        return wrong;
    }
    return kind == CardFileKind::Illustration ? decoderDamage(fd.get()) : std::nullopt;
}

} // namespace kqget
