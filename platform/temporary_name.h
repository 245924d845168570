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

// Calls `make` with fresh names of that form until it returns anything but
// `taken` (the system's answer to a name in use), a hundred times at most,
// far more than chance allows; returns its last answer.
template <typename Make, typename Error> Error withFreshName(Make make, Error taken)
{
    Error answer = taken;
    for (int attempt = 0; attempt < 100 && answer == taken; ++attempt) {
        answer = make(temporaryName());
    }
    return answer;
}

// The folder that holds a card file's path, with its separator, `levels` up:
// 1 gives "DATA/ID/" of "DATA/ID/NAME", 2 the data folder. Empty (the
// current folder) where the path names none.
template <typename Char>
std::basic_string<Char> folderOf(std::basic_string_view<Char> path, const Char* separators,
                                 int levels)
{
    std::size_t end = path.size();
    for (int level = 0; level < levels && end != std::basic_string_view<Char>::npos; ++level) {
        end = end == 0 ? end - 1 : path.find_last_of(separators, end - 1);
    }
    return std::basic_string<Char>(end == path.npos ? path.substr(0, 0) : path.substr(0, end + 1));
}

} // namespace kqget
