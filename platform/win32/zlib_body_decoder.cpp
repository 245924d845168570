#include "platform/win32/zlib_body_decoder.h"

#include "platform/content_coding.h"

#include <zlib.h>

namespace kqget {

namespace {

// "deflate" is meant as the zlib format, but some servers send the raw
// stream; a zlib stream's first two bytes say so by themselves.
int deflateWindow(std::string_view start)
{
    const auto first = static_cast<unsigned char>(start[0]);
    if ((first & 0x0F) != Z_DEFLATED || (first >> 4) > 7) {
        return ZlibStream::kRaw;
    }
    if (start.size() < 2) {
        return ZlibStream::kZlib;
    }
    const auto second = static_cast<unsigned char>(start[1]);
    return (first * 256 + second) % 31 == 0 ? ZlibStream::kZlib : ZlibStream::kRaw;
}

} // namespace

bool ZlibBodyDecoder::undoes(std::string_view coding)
{
    return !coding.empty() && undecodableCoding(coding, {"gzip", "x-gzip", "deflate"}).empty();
}

ZlibBodyDecoder::ZlibBodyDecoder(std::string_view coding)
    : m_gzip(undecodableCoding(coding, {"gzip", "x-gzip"}).empty())
{}

void ZlibBodyDecoder::start(std::string_view coded)
{
    m_stream = std::make_unique<ZlibStream>(m_gzip ? ZlibStream::kGzip : deflateWindow(coded));
}

std::optional<std::string>
ZlibBodyDecoder::decode(std::string_view coded, const std::function<bool(std::string_view)>& take)
{
    if (coded.empty()) {
        return std::nullopt;
    }
    if (!m_stream) {
        start(coded);
    }
    bool stopped = false;
    const auto wrong = m_stream->feed(coded, [&](std::string_view decoded) {
        stopped = !take(decoded);
        return stopped ? std::optional<std::string>("") : std::nullopt;
    });
    if (!wrong || stopped || *wrong == ZlibStream::kAfterEnd) {
        return std::nullopt;
    }
    return std::string(m_gzip ? "the gzip" : "the deflate") +
           " coding of the body is damaged: " + *wrong;
}

std::optional<std::string> ZlibBodyDecoder::finish() const
{
    // An empty body is empty whatever its coding says.
    if (!m_stream || m_stream->ended()) {
        return std::nullopt;
    }
    return std::string("the body ends inside its ") + (m_gzip ? "gzip" : "deflate") + " coding";
}

} // namespace kqget
