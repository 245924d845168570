#include "update/run_inputs.h"

#include "update/run_error.h"

namespace kqget {

namespace {

// Both, whatever the platform's own separator: a folder typed on Windows
// habits must be judged as it was meant.
bool isSeparator(char c) noexcept
{
    return c == '/' || c == '\\';
}

// Whether `path` leads back to where it starts: what is left of its
// components once "." and ".." are resolved on the text is nothing. As at the
// root, ".." above the start stays there.
bool leadsBackToItsStart(std::string_view path) noexcept
{
    std::size_t depth = 0;
    while (!path.empty()) {
        std::size_t end = 0;
        while (end < path.size() && !isSeparator(path[end])) {
            ++end;
        }
        const std::string_view component = path.substr(0, end);
        if (component == "..") {
            depth -= depth > 0 ? 1 : 0;
        } else if (!component.empty() && component != ".") {
            ++depth;
        }
        path.remove_prefix(end < path.size() ? end + 1 : end);
    }
    return depth == 0;
}

bool isDriveLetter(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::string_view trimSpaces(std::string_view text, std::string_view spaces) noexcept
{
    const auto first = text.find_first_not_of(spaces);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(spaces);
    return text.substr(first, last - first + 1);
}

void refuseRootDataFolder(std::string_view folder, char separator)
{
    const std::string instead =
        ", and its top folders are not card folders; type instead the folder that holds the "
        "card folders (A0001, B0002 ...), for example " +
        std::string(separator == '\\' ? "C:\\KQ\\Data" : "/home/NAME/KQ/Data");
    if (!folder.empty() && isSeparator(folder.front()) && leadsBackToItsStart(folder)) {
        throw RunError(ErrorNumber::DataFolder, "data folder '" + std::string(folder) +
                                                    "' is the root of the file system (an empty "
                                                    "field becomes '" +
                                                    std::string(1, separator) + "')" + instead);
    }
    if (folder.size() >= 3 && isDriveLetter(folder[0]) && folder[1] == ':' &&
        isSeparator(folder[2]) && leadsBackToItsStart(folder.substr(2))) {
        throw RunError(ErrorNumber::DataFolder, "data folder '" + std::string(folder) +
                                                    "' is the root of drive " +
                                                    std::string(folder.substr(0, 2)) + instead);
    }
}

} // namespace kqget
