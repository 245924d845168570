#include "update/run_inputs.h"

namespace kqget {

std::string_view trimSpaces(std::string_view text) noexcept
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string withTrailingSeparator(std::string_view folder, char separator)
{
    std::string result(folder);
    if (result.empty() || result.back() != separator) {
        result.push_back(separator);
    }
    return result;
}

} // namespace kqget
