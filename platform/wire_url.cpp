#include "platform/wire_url.h"

namespace kqget {

namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";
// '#' would start a fragment; the others are outside the characters a request
// target may hold and some servers reject them.
constexpr std::string_view kReservedPrintable = "#\"<>\\^`{|}";

bool mayStandRaw(unsigned char byte)
{
    return byte > 0x20 && byte < 0x7F &&
           kReservedPrintable.find(static_cast<char>(byte)) == std::string_view::npos;
}

} // namespace

std::string wireUrl(std::string_view url)
{
    std::string wire;
    wire.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (mayStandRaw(byte)) {
            wire.push_back(c);
        } else {
            wire.push_back('%');
            wire.push_back(kHexDigits[byte >> 4]);
            wire.push_back(kHexDigits[byte & 0x0F]);
        }
    }
    return wire;
}

} // namespace kqget
