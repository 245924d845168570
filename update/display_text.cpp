#include "update/display_text.h"

#include <algorithm>
#include <array>

namespace kqget {

namespace {

constexpr std::string_view kHidden = "…";
constexpr std::string_view kKeyParameter = "mlunkey=";
// Below this length a bare match is more likely a word than the key.
constexpr std::size_t kShortestBareKey = 4;

void appendEscaped(std::string& out, unsigned char byte)
{
    constexpr std::array<char, 16> digits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    out.append("\\x");
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 0x0F]);
}

bool endsKeyValue(char c)
{
    return c == '&' || c == '#' || c == ' ' || c == '\'' || c == '"' || c == ')';
}

} // namespace

std::string escapeControls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            appendEscaped(out, byte);
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
            // U+0080..U+009F: some terminals take U+009B as the start of a command.
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
    const bool hideBare = key.size() >= kShortestBareKey;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with(kKeyParameter)) {
            out.append(kKeyParameter);
            i += kKeyParameter.size();
            const std::size_t start = i;
            while (i < text.size() && !endsKeyValue(text[i]) &&
                   static_cast<unsigned char>(text[i]) >= 0x20) {
                ++i;
            }
            // A key with spaces reaches here as typed: hide all of it, not up to its first space.
            if (!key.empty() && text.substr(start).starts_with(key)) {
                i = std::max(i, start + key.size());
            }
            if (i > start) {
                out.append(kHidden);
            }
        } else if (hideBare && rest.starts_with(key)) {
            out.append(kHidden);
            i += key.size();
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

} // namespace kqget
