// Fuzzes the PNG walk: any bytes are judged without a crash, a leak or an
// overflow, and alike whether the file comes whole or in pieces of any size.
// Every whole chunk's CRC is set right first, so that the fuzzer reaches
// what lies behind it.
#include "platform/png_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <zlib.h>

namespace {

void setCrcs(std::string& png)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(png[at]); };
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::uint64_t length = (std::uint64_t{byte(at)} << 24) | (byte(at + 1) << 16) |
                                     (byte(at + 2) << 8) | byte(at + 3);
        if (length > png.size() - at - 12) {
            return;
        }
        const auto crc = crc32_z(0, reinterpret_cast<const Bytef*>(png.data() + at + 4),
                                 static_cast<std::size_t>(length) + 4);
        const std::size_t crcAt = at + 8 + static_cast<std::size_t>(length);
        for (int i = 0; i < 4; ++i) {
            png[crcAt + i] = static_cast<char>((crc >> (24 - 8 * i)) & 0xff);
        }
        at = crcAt + 4;
    }
}

std::optional<std::string> judged(std::string_view file, std::size_t piece)
{
    kqget::PngCheck walk;
    while (!file.empty()) {
        const std::string_view next = file.substr(0, piece);
        file.remove_prefix(next.size());
        if (auto wrong = walk.feed(next)) {
            return wrong;
        }
    }
    return walk.finish();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = 1 + data[0] % 64;
    std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);
    setCrcs(file);
    if (judged(file, file.size() + 1) != judged(file, piece)) {
        std::abort();
    }
    return 0;
}
