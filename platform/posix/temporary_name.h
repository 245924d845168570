#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kqget {

// A card file's new content waits as ".NAME.kqget-XXXXXX" beside it: hidden,
// and of a form no other program gives its files.

// Where the last component of `path` starts.
std::size_t nameStart(std::string_view path) noexcept;

// ".NAME.kqget-" of "FOLDER/NAME".
std::string temporaryPrefix(std::string_view target);

// Whether `entry` is exactly `prefix` and the six letters and digits after.
bool isTemporaryOf(std::string_view entry, std::string_view prefix) noexcept;

// Whether `entry` has the temporary form for some name.
bool looksTemporary(std::string_view entry) noexcept;

// Six letters and digits that differ from one temporary file to the next and
// from one process to another.
std::string uniqueSuffix();

} // namespace kqget
