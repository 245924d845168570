#pragma once

#include "update/service_bases.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
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
// The version and the service bases in effect.
std::string windowVersionText(const ServiceBases& bases);

// The bases the window uses: KQGET_INFO_BASE and KQGET_IMAGE_BASE as
// `environment` gives them, over the build's; or why one cannot be used.
std::variant<ServiceBases, std::string>
windowServiceBases(const std::function<std::optional<std::string>(const char* name)>& environment);

} // namespace kqget
