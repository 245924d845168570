#include "platform/win32/zlib_body_decoder.h"

#include <array>
#include <new>
#include <zlib.h>

namespace kqget {

namespace {

constexpr std::size_t kDecodedPieceBytes = 64 * 1024;

bool sameWithoutCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// zlib's window bits: gzip's wrapper, zlib's, or none.
constexpr int kGzipWindow = 15 + 16;
constexpr int kZlibWindow = 15;
constexpr int kRawWindow = -15;

// "deflate" is meant as the zlib format, but some servers send the raw
// stream; a zlib stream's first two bytes say so by themselves.
int deflateWindow(std::string_view start)
{
    const auto first = static_cast<unsigned char>(start[0]);
    if ((first & 0x0F) != Z_DEFLATED || (first >> 4) > 7) {
        return kRawWindow;
    }
    if (start.size() < 2) {
        return kZlibWindow;
    }
    const auto second = static_cast<unsigned char>(start[1]);
    return (first * 256 + second) % 31 == 0 ? kZlibWindow : kRawWindow;
}

} // namespace

struct ZlibBodyDecoder::Stream
{
    z_stream z{};
    bool gzip = false;
    bool started = false;
    bool ended = false;
    std::array<char, kDecodedPieceBytes> piece{};
};

bool ZlibBodyDecoder::undoes(std::string_view coding)
{
    return sameWithoutCase(coding, "gzip") || sameWithoutCase(coding, "x-gzip") ||
           sameWithoutCase(coding, "deflate");
}

ZlibBodyDecoder::ZlibBodyDecoder(std::string_view coding) : m_stream(std::make_unique<Stream>())
{
    m_stream->gzip = !sameWithoutCase(coding, "deflate");
}

ZlibBodyDecoder::~ZlibBodyDecoder()
{
    if (m_stream->started) {
        ::inflateEnd(&m_stream->z);
    }
}

ZlibBodyDecoder::Step ZlibBodyDecoder::step(std::string_view coded)
{
    Stream& stream = *m_stream;
    if (stream.ended) {
        return {};
    }
    if (!stream.started) {
        const int window = stream.gzip ? kGzipWindow : deflateWindow(coded);
        const int status = ::inflateInit2(&stream.z, window);
        if (status == Z_MEM_ERROR) {
            throw std::bad_alloc();
        }
        if (status != Z_OK) {
            return {0, {}, std::string("zlib cannot start: ") + ::zError(status)};
        }
        stream.started = true;
    }
    stream.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded.data()));
    stream.z.avail_in = static_cast<uInt>(coded.size());
    stream.z.next_out = reinterpret_cast<Bytef*>(stream.piece.data());
    stream.z.avail_out = static_cast<uInt>(stream.piece.size());
    const int status = ::inflate(&stream.z, Z_NO_FLUSH);
    const std::size_t used = coded.size() - stream.z.avail_in;
    const std::string_view decoded(stream.piece.data(), stream.piece.size() - stream.z.avail_out);
    switch (status) {
    case Z_STREAM_END:
        stream.ended = true;
        [[fallthrough]];
    case Z_OK:
    case Z_BUF_ERROR: // no progress possible until more comes
        return {used, decoded, std::nullopt, stream.z.avail_out == 0};
    case Z_MEM_ERROR:
        throw std::bad_alloc();
    default:
        return {used, decoded,
                std::string(stream.gzip ? "the gzip" : "the deflate") +
                    " coding of the body is damaged: " +
                    (stream.z.msg != nullptr ? stream.z.msg : ::zError(status))};
    }
}

std::optional<std::string> ZlibBodyDecoder::finish() const
{
    // An empty body is empty whatever its coding says.
    if (m_stream->ended || !m_stream->started) {
        return std::nullopt;
    }
    return std::string("the body ends inside its ") + (m_stream->gzip ? "gzip" : "deflate") +
           " coding";
}

} // namespace kqget
