#include "update/display_text.h"

namespace kqget {

namespace {

constexpr std::string_view kKeyParameter = "mlunkey=";

// How many bytes of a control character begin at `i`: 1 for C0 and DEL, 2
// for C1 (U+0080 to U+009F, C2 80 to C2 9F in UTF-8), 0 for anything else.
std::size_t controlAt(std::string_view text, std::size_t i) noexcept
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    if (byte(i) < 0x20 || byte(i) == 0x7f) {
        return 1;
    }
    return byte(i) == 0xc2 && i + 1 < text.size() && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9f ? 2
                                                                                                : 0;
}

} // namespace

bool isFreeOfControls(std::string_view text) noexcept
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (controlAt(text, i) != 0) {
            return false;
        }
    }
    return true;
}

std::string escapeControls(std::string_view text)
{
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t control = controlAt(text, i);
        if (control == 0) {
            out.push_back(text[i++]);
        }
        for (const std::size_t end = i + control; i < end; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            out.append({'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0f]});
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
