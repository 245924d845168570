#pragma once

#include <string_view>

namespace kqget {

// Whether `name` can be a card id under `letter`: that letter in either case,
// then at most four more characters, none of them a period. Characters are
// counted as UTF-8 code points; a byte that is not valid UTF-8 counts as one.
bool isCardName(std::string_view name, char letter) noexcept;

// Orders names as the client's own file system lists them: ASCII letters
// compared without case first, then plain byte order to break ties.
bool cardNameLess(std::string_view a, std::string_view b) noexcept;

} // namespace kqget
