#pragma once

#include "platform/zlib_stream.h"

#include <functional>
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

    // Decodes `coded`, handing each decoded piece to `take(std::string_view)`,
    // which returns false to stop. The reason when the coded bytes are
    // damaged; none otherwise, also when `take` stopped. Past the stream's
    // end nothing more is the body's.
    std::optional<std::string> decode(std::string_view coded,
                                      const std::function<bool(std::string_view)>& take);

    // After the body's last byte: the reason when the coded stream was cut short.
    std::optional<std::string> finish() const;

private:
    // Made at the first bytes, which tell a zlib stream from a raw one.
    void start(std::string_view coded);

    bool m_gzip;
    std::unique_ptr<ZlibStream> m_stream;
};

} // namespace kqget
