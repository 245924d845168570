#include "update/display_text.h"

#include <array>

namespace kqget {

namespace {

constexpr std::string_view kKeyParameter = "mlunkey=";
constexpr std::string_view kHiddenKey = "…";

bool isControlByte(unsigned char byte) noexcept
{
    return byte < 0x20 || byte == 0x7f;
}

// U+0080 to U+009F take two bytes in UTF-8: C2 80 to C2 9F.
bool isC1At(std::string_view text, std::size_t i) noexcept
{
    return static_cast<unsigned char>(text[i]) == 0xc2 && i + 1 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[i + 1]) <= 0x9f;
}

void appendEscaped(std::string& out, unsigned char byte)
{
    constexpr std::array<char, 16> kHex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                           '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    out.append("\\x").push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0f]);
}

} // namespace

bool isFreeOfControls(std::string_view text) noexcept
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isControlByte(static_cast<unsigned char>(text[i])) || isC1At(text, i)) {
            return false;
        }
    }
    return true;
}

std::string escapeControls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (isControlByte(byte)) {
            appendEscaped(out, byte);
        } else if (isC1At(text, i)) {
            appendEscaped(out, byte);
            appendEscaped(out, static_cast<unsigned char>(text[++i]));
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string hideKey(std::string_view text, std::string_view key)
{
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(kKeyParameter, from);
        if (at == std::string_view::npos) {
            out.append(text.substr(from));
            return out;
        }
        const std::size_t valueStart = at + kKeyParameter.size();
        out.append(text.substr(from, valueStart - from));
        if (text.substr(valueStart).starts_with(key)) {
            out.append(kHiddenKey);
            from = valueStart + key.size();
        } else {
            from = valueStart;
        }
    }
}

std::string noCardFoldersText(std::string_view dataFolder)
{
    return "no card folders (names starting with A to D) found in '" + escapeControls(dataFolder) +
           "': check that it is the game's data folder";
}

} // namespace kqget
