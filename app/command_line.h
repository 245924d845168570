#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kqget {

// What the window program was asked to do. Options of the toolkit itself (one
// leading dash, such as -platform) are left to it.
struct WindowCommand
{
    enum class Action
    {
        OpenWindow,
        Version,
        Help,
        Screenshot,
        Usage
    };

    Action action = Action::OpenWindow;
    std::string screenshotPath; // Screenshot: where the PNG goes
    std::string problem;        // Usage: what was wrong
};

// `arguments` without the program name.
WindowCommand parseWindowCommand(const std::vector<std::string_view>& arguments);

std::string windowUsageText();

} // namespace kqget
