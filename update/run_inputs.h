#pragma once

#include <string>
#include <string_view>

namespace kqget {

// The three values the user types, as typed.
struct RunInputs
{
    std::string key;
    std::string userName;
    std::string dataFolder;
};

// `text` without `spaces` at either end: by default the space (code 32)
// alone, so that tabs and inner spaces stay.
std::string_view trimSpaces(std::string_view text, std::string_view spaces = " ") noexcept;

// Refuses, with RunError DataFolder, a data folder that names the root of the
// file system ("/", which an empty field becomes, or "/x/..//" and the like)
// or the root of a drive ("C:\\", "c:/"). Every top-level folder there whose
// name starts with A to D would pass for a card folder. The test is on the
// text alone, so that nothing is touched before the refusal.
// ASCII letters in lower case, whatever the locale: protocol names, hosts and
// drive letters are compared so.
constexpr char asciiLower(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `a` and `b` are the same but for the case of ASCII letters.
constexpr bool sameWithoutCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

void refuseRootDataFolder(std::string_view folder, char separator);

} // namespace kqget
