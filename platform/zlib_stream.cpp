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

ZlibStream::Step ZlibStream::step(std::string_view compressed)
{
    z_stream& z = m_state->z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = reinterpret_cast<Bytef*>(m_state->piece.data());
    z.avail_out = static_cast<uInt>(m_state->piece.size());
    const int status = ::inflate(&z, Z_NO_FLUSH);
    Step step{compressed.size() - z.avail_in,
              std::string_view(m_state->piece.data(), m_state->piece.size() - z.avail_out),
              z.avail_out == 0, std::nullopt};
    switch (status) {
    case Z_STREAM_END:
        m_state->ended = true;
        step.pieceFull = false;
        break;
    case Z_OK:
    case Z_BUF_ERROR: // no progress until more comes
        break;
    case Z_MEM_ERROR:
        throw std::bad_alloc();
    case Z_NEED_DICT:
        step.damage = "zlib stream needs a preset dictionary";
        break;
    default:
        step.damage = z.msg != nullptr ? z.msg : "not a zlib stream";
    }
    return step;
}

} // namespace kqget
