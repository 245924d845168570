#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// Undoes a gzip or deflate content coding as a body arrives, for where
// WinHTTP leaves it (a system without its decompression option). Decoded
// bytes come out in pieces of a fixed size, so memory does not grow with the
// body.
class ZlibBodyDecoder
{
public:
    // Whether `coding`, as Content-Encoding names it, is one this undoes.
    static bool undoes(std::string_view coding);

    explicit ZlibBodyDecoder(std::string_view coding);
    ~ZlibBodyDecoder();
    ZlibBodyDecoder(const ZlibBodyDecoder&) = delete;
    ZlibBodyDecoder& operator=(const ZlibBodyDecoder&) = delete;

    // Decodes `coded`, handing each decoded piece to `take(std::string_view)`,
    // which returns false to stop. The reason when the coded bytes are
    // damaged; none otherwise, also when `take` stopped.
    template <typename Take> std::optional<std::string> decode(std::string_view coded, Take&& take);

    // After the body's last byte: the reason when the coded stream was cut short.
    std::optional<std::string> finish() const;

private:
    struct Stream;

    // Decodes what it can of `coded` into the output piece; how much of
    // `coded` it used and how much it decoded, or the damage.
    struct Step
    {
        std::size_t used = 0;
        std::string_view decoded;
        std::optional<std::string> damage;
        bool pieceFull = false; // zlib may hold more decoded bytes for the next step
    };
    Step step(std::string_view coded);

    std::unique_ptr<Stream> m_stream;
};

template <typename Take>
std::optional<std::string> ZlibBodyDecoder::decode(std::string_view coded, Take&& take)
{
    for (;;) {
        Step next = step(coded);
        if (next.damage) {
            return next.damage;
        }
        coded.remove_prefix(next.used);
        if (!next.decoded.empty() && !take(next.decoded)) {
            return std::nullopt;
        }
        // Past the stream's end nothing more is the body's.
        if ((coded.empty() && !next.pieceFull) || (next.used == 0 && next.decoded.empty())) {
            return std::nullopt;
        }
    }
}

} // namespace kqget
