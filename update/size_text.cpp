#include "update/size_text.h"

#include <array>
#include <charconv>

namespace kqget {

std::string sizeText(std::uint64_t size)
{
    std::array<char, 24> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), size).ptr;
    return {digits.data(), end};
}

} // namespace kqget
