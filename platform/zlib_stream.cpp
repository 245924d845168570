#include "platform/zlib_stream.h"

#include <array>
#include <new>
#include <zlib.h>

namespace kqget {

struct ZlibStream::State
{
    z_stream z{};
    bool ended = false;
    std::array<char, 64 * 1024> piece{};
};

ZlibStream::ZlibStream(int windowBits) : m_state(std::make_unique<State>())
{
    if (::inflateInit2(&m_state->z, windowBits) != Z_OK) {
        throw std::bad_alloc();
    }
}

ZlibStream::~ZlibStream()
{
    ::inflateEnd(&m_state->z);
}

bool ZlibStream::ended() const noexcept
{
    return m_state->ended;
}

std::uint64_t ZlibStream::inflated() const noexcept
{
    return m_state->z.total_out;
}

std::optional<std::string> ZlibStream::feed(std::string_view compressed, const Take& take)
{
    z_stream& z = m_state->z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = static_cast<uInt>(compressed.size());
    // Until zlib has used every byte and has no more to give for them.
    while (z.avail_in > 0 || z.avail_out == 0) {
        if (m_state->ended) {
            return std::string(kAfterEnd);
        }
        z.next_out = reinterpret_cast<Bytef*>(m_state->piece.data());
        z.avail_out = static_cast<uInt>(m_state->piece.size());
        const int status = ::inflate(&z, Z_NO_FLUSH);
        const std::size_t made = m_state->piece.size() - z.avail_out;
        if (made > 0) {
            if (auto stop = take(std::string_view(m_state->piece.data(), made))) {
                return stop;
            }
        }
        switch (status) {
        case Z_STREAM_END:
            m_state->ended = true;
            z.avail_out = 1; // nothing more to give
            break;
        case Z_OK:
            break;
        case Z_BUF_ERROR: // no progress until more comes
            return std::nullopt;
        case Z_MEM_ERROR:
            throw std::bad_alloc();
        case Z_NEED_DICT:
            return std::string("zlib stream needs a preset dictionary");
        default:
            return std::string(z.msg != nullptr ? z.msg : "not a zlib stream");
        }
    }
    return std::nullopt;
}

} // namespace kqget
