#include "platform/bounded_inflate.h"

#include <array>
#include <new>
#include <zlib.h>

namespace kqget {

struct BoundedInflate::Stream
{
    z_stream z{};
    std::array<unsigned char, 16 * 1024> out{};
};

BoundedInflate::BoundedInflate(std::uint64_t limit)
    : m_stream(std::make_unique<Stream>()), m_limit(limit)
{
    if (inflateInit(&m_stream->z) != Z_OK) {
        throw std::bad_alloc();
    }
}

BoundedInflate::~BoundedInflate()
{
    inflateEnd(&m_stream->z);
}

std::uint64_t BoundedInflate::inflated() const noexcept
{
    return m_stream->z.total_out;
}

std::optional<std::string> BoundedInflate::feed(std::string_view compressed)
{
    if (compressed.empty()) {
        return std::nullopt;
    }
    if (m_ended) {
        return std::string("data after the end of its zlib stream");
    }
    z_stream& z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = static_cast<uInt>(compressed.size());
    while (true) {
        z.next_out = m_stream->out.data();
        z.avail_out = static_cast<uInt>(m_stream->out.size());
        const int result = inflate(&z, Z_NO_FLUSH);
        if (z.total_out > m_limit) {
            return "inflates to over " + std::to_string(m_limit >> 20) + " MiB";
        }
        if (result == Z_STREAM_END) {
            m_ended = true;
            if (z.avail_in > 0) {
                return std::string("data after the end of its zlib stream");
            }
            return std::nullopt;
        }
        if (result == Z_MEM_ERROR) {
            throw std::bad_alloc();
        }
        if (result == Z_NEED_DICT || result == Z_DATA_ERROR) {
            return std::string(z.msg != nullptr ? z.msg : "needs a preset dictionary");
        }
        if (z.avail_in == 0 && z.avail_out != 0) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> BoundedInflate::finish() const
{
    if (!m_ended) {
        return std::string("zlib stream cut short");
    }
    return std::nullopt;
}

} // namespace kqget
