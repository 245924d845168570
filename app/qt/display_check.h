#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kqget {

// Why the window cannot open, when there is no X11 or Wayland display to open
// it on; none when there is one, or when the toolkit was told which platform
// to use (QT_QPA_PLATFORM, -platform), which then reports on its own. Asked
// before the toolkit starts: it would abort the program instead.
std::optional<std::string> missingDisplayProblem(const std::vector<std::string_view>& arguments);

} // namespace kqget
