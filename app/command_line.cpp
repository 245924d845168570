#include "app/command_line.h"

namespace kqget {

WindowCommand parseWindowCommand(const std::vector<std::string_view>& arguments)
{
    WindowCommand command;
    const auto usage = [](std::string problem) {
        return WindowCommand{WindowCommand::Action::Usage, {}, std::move(problem)};
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "--version") {
            return {WindowCommand::Action::Version, {}, {}};
        }
        if (argument == "--help" || argument == "-h") {
            return {WindowCommand::Action::Help, {}, {}};
        }
        if (argument == "--screenshot") {
            if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
                return usage("--screenshot needs a file name");
            }
            command.action = WindowCommand::Action::Screenshot;
            command.screenshotPath = arguments[++i];
        } else if (argument.starts_with("--")) {
            return usage("unknown option " + std::string(argument));
        }
    }
    return command;
}

std::string windowUsageText()
{
    return "Usage: kqget [--screenshot FILE.png]\n"
           "       kqget --help | --version\n"
           "\n"
           "Opens the window that repairs the card library. For scripts and machines\n"
           "without a display, use kqget-cli.\n"
           "\n"
           "  --screenshot FILE.png  save a picture of the window as first shown, then quit\n"
           "\n"
           "The card service's bases come from KQGET_INFO_BASE and KQGET_IMAGE_BASE, e.g.\n"
           "KQGET_INFO_BASE=https://cards.example.net, else from lines info-base = URL\n"
           "and image-base = URL in the user's settings file, else in the machine's, else\n"
           "from the build; --version names the files and what set each base.\n";
}

} // namespace kqget
