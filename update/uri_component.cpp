#include "update/uri_component.h"

namespace kqget {

namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

bool isUnreserved(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

std::string uriComponent(std::string_view text)
{
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        if (isUnreserved(c)) {
            encoded.push_back(c);
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        encoded.push_back('%');
        encoded.push_back(kHexDigits[byte >> 4]);
        encoded.push_back(kHexDigits[byte & 0x0F]);
    }
    return encoded;
}

} // namespace kqget
