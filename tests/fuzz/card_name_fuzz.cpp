// Fuzzes the card-name matcher and the listing order with arbitrary names.
#include "platform/card_name_matcher.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

std::size_t codePoints(std::string_view text)
{
    std::size_t count = 0;
    for (const char c : text) {
        // Continuation bytes do not start a character; an invalid lead still counts.
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const char letter = static_cast<char>('A' + data[0] % 4);
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto split = rest.size() / 2;
    const std::string_view a = rest.substr(0, split);
    const std::string_view b = rest.substr(split);

    if (kqget::isCardName(a, letter)) {
        check(!a.empty());
        check(a[0] == letter || a[0] == letter + ('a' - 'A'));
        check(a.substr(1).find('.') == std::string_view::npos);
        // A well-formed name never has more than five characters; a malformed
        // one is counted byte by byte at most, so it can only count higher.
        check(codePoints(a) <= 5);
    }

    // A strict weak order: irreflexive, asymmetric, and equal only when identical.
    check(!kqget::cardNameLess(a, a));
    const bool ab = kqget::cardNameLess(a, b);
    const bool ba = kqget::cardNameLess(b, a);
    check(!(ab && ba));
    check(ab || ba || a == b);
    return 0;
}
