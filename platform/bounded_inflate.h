#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// One zlib stream inflated as it comes and thrown away, stopped once it has
// given more than `limit` bytes: how a compressed text or colour profile is
// checked without letting a few kilobytes that inflate to gigabytes cost
// gigabytes or minutes.
class BoundedInflate
{
public:
    explicit BoundedInflate(std::uint64_t limit);
    ~BoundedInflate();
    BoundedInflate(const BoundedInflate&) = delete;
    BoundedInflate& operator=(const BoundedInflate&) = delete;

    // What is wrong, once something is: zlib's reason, "over the limit", or
    // bytes after the stream's end.
    std::optional<std::string> feed(std::string_view compressed);
    // At the data's end: what is wrong if the stream did not end.
    std::optional<std::string> finish() const;
    std::uint64_t inflated() const noexcept;

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
    std::uint64_t m_limit;
    bool m_ended = false;
};

} // namespace kqget
