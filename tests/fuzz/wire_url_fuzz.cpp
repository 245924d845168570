// Fuzzes the on-the-wire encoding of URLs: the result must be a valid request
// target that decodes back to the URL as formed.
#include "platform/wire_url.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool mayStandRaw(unsigned char c)
{
    if (c <= 0x20 || c >= 0x7F) {
        return false;
    }
    return std::string_view("#\"<>\\^`{|}").find(static_cast<char>(c)) == std::string_view::npos;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const std::string wire = kqget::wireUrl(url);

    // Walk both side by side: every byte is either kept or written as %XX.
    std::size_t w = 0;
    for (const char original : url) {
        const auto c = static_cast<unsigned char>(original);
        check(w < wire.size());
        if (mayStandRaw(c)) {
            check(wire[w] == original);
            ++w;
        } else {
            check(w + 3 <= wire.size());
            check(wire[w] == '%');
            const int high = hexValue(wire[w + 1]);
            const int low = hexValue(wire[w + 2]);
            check(high >= 0 && low >= 0 && high * 16 + low == c);
            w += 3;
        }
    }
    check(w == wire.size());
    for (const char c : wire) {
        check(mayStandRaw(static_cast<unsigned char>(c)));
    }
    return 0;
}
