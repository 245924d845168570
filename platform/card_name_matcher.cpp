#include "platform/card_name_matcher.h"

#include <algorithm>
#include <compare>
#include <cstddef>

namespace kqget {

namespace {

constexpr std::size_t kMaxCharactersAfterLetter = 4;

char asciiUpper(char c) noexcept
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Length of the UTF-8 sequence starting at text[pos], or 1 when it is not a
// well-formed one.
std::size_t sequenceLength(std::string_view text, std::size_t pos) noexcept
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (pos + length > text.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return length;
}

} // namespace

bool isCardName(std::string_view name, char letter) noexcept
{
    if (name.empty() || asciiUpper(name.front()) != asciiUpper(letter)) {
        return false;
    }
    std::size_t characters = 0;
    for (std::size_t pos = 1; pos < name.size(); pos += sequenceLength(name, pos)) {
        if (name[pos] == '.' || ++characters > kMaxCharactersAfterLetter) {
            return false;
        }
    }
    return true;
}

bool cardNameLess(std::string_view a, std::string_view b) noexcept
{
    const auto order = std::lexicographical_compare_three_way(
        a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(asciiUpper(x)) <=>
                   static_cast<unsigned char>(asciiUpper(y));
        });
    return order != 0 ? order < 0 : a < b;
}

} // namespace kqget
