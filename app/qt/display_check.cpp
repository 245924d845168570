#include "app/qt/display_check.h"

#include <algorithm>
#include <cstdlib>

namespace kqget {

std::optional<std::string> missingDisplayProblem(const std::vector<std::string_view>& arguments)
{
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    const bool platformNamed =
        isSet("QT_QPA_PLATFORM") || std::ranges::find(arguments, "-platform") != arguments.end();
    if (platformNamed || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")) {
        return std::nullopt;
    }
    return "no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset); "
           "kqget-cli works without one";
}

} // namespace kqget
