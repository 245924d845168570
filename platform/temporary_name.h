#pragma once

#include <string>
#include <string_view>

namespace kqget {

// A card file's new content waits in the data folder as
// ".kqget-XXXXXXXXXXXX.tmp": a name no card folder has, of a form no other
// program gives its files, the same on every system.

// A fresh name of that form: twelve letters and digits that differ from one
// file to the next and from one process to another.
std::string temporaryName();

// Whether `name` has exactly that form.
bool isTemporaryName(std::string_view name) noexcept;

} // namespace kqget
