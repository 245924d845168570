#pragma once

#include <cstddef>
#include <cstdint>
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

    explicit ZlibStream(int windowBits = kZlib); // throws std::bad_alloc
    ~ZlibStream();
    ZlibStream(const ZlibStream&) = delete;
    ZlibStream& operator=(const ZlibStream&) = delete;

    struct Fed
    {
        std::optional<std::string> damage; // zlib's reason
        bool afterEnd = false;             // bytes came after the stream's end
        bool stopped = false;              // `take` said no more
    };

    // Inflates `compressed`, handing each piece to `take(std::string_view)`,
    // which returns false to stop.
    template <typename Take> Fed feed(std::string_view compressed, Take&& take);

    bool ended() const noexcept;
    std::uint64_t inflated() const noexcept;

private:
    struct Step
    {
        std::size_t used = 0;
        std::string_view inflated; // valid until the next step
        bool pieceFull = false;    // zlib may hold more for the next step
        std::optional<std::string> damage;
    };
    Step step(std::string_view compressed);

    struct State;
    std::unique_ptr<State> m_state;
};

template <typename Take> ZlibStream::Fed ZlibStream::feed(std::string_view compressed, Take&& take)
{
    while (!compressed.empty() || !ended()) {
        if (ended()) {
            return {std::nullopt, true, false};
        }
        Step next = step(compressed);
        compressed.remove_prefix(next.used);
        if (!next.inflated.empty() && !take(next.inflated)) {
            return {std::nullopt, false, true};
        }
        if (next.damage) {
            return {std::move(next.damage), false, false};
        }
        if (compressed.empty() && !next.pieceFull) {
            break;
        }
    }
    return {};
}

} // namespace kqget
