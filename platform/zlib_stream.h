#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// One zlib, gzip or raw deflate stream inflated as its bytes come, a piece of
// fixed size at a time, so that memory never grows with what it inflates to:
// the one place kqget drives zlib, for a PNG image's data and compressed
// chunks, and for a body whose content coding WinHTTP left.
class ZlibStream
{
public:
    // zlib's window bits for each wrapper.
    static constexpr int kZlib = 15;
    static constexpr int kGzip = 15 + 16;
    static constexpr int kRaw = -15;
    // What feed() says of bytes that come after the stream's end.
    static constexpr std::string_view kAfterEnd = "data after the end of its zlib stream";

    // Each inflated piece, valid until it returns; a reason to stop, if any.
    using Take = std::function<std::optional<std::string>(std::string_view inflated)>;

    explicit ZlibStream(int windowBits = kZlib); // throws std::bad_alloc
    ~ZlibStream();
    ZlibStream(const ZlibStream&) = delete;
    ZlibStream& operator=(const ZlibStream&) = delete;

    // Inflates `compressed` through `take`. What is wrong, once something
    // is: `take`'s reason, zlib's, or kAfterEnd.
    std::optional<std::string> feed(std::string_view compressed, const Take& take);

    bool ended() const noexcept;
    std::uint64_t inflated() const noexcept;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace kqget
