#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kqget {

// One value of a settings file and the line it stands on.
struct SettingValue
{
    std::string value;
    std::size_t line = 0;
};

// A settings file as read: where it is, whether it was there, and the bases
// it sets. kqget reads these files and never writes them.
struct SettingsFile
{
    std::string path;
    bool present = false;
    std::optional<SettingValue> infoBase;  // info-base = URL
    std::optional<SettingValue> imageBase; // image-base = URL
};

// The settings in `text`, the content of the file at `path`: lines of
// "name = value", '#' starting a comment to the line's end, blank lines
// between; UTF-8 with or without a byte-order mark, lines ending in LF or
// CR LF; no sections. A later line sets a value again. Or why a line cannot
// be taken, naming the file and the line: a line without '=', a name kqget
// does not know, a base that cannot be one.
std::variant<SettingsFile, std::string> parseSettingsFile(std::string path, std::string_view text);

} // namespace kqget
