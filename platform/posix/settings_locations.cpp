#include "platform/service_settings.h"

#include <cstdlib>

namespace kqget {

namespace {

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

} // namespace

SettingsLocations settingsLocations()
{
    // As the XDG base directory rules have it: a relative XDG_CONFIG_HOME is
    // ignored, and without it the user's is ~/.config.
    std::string folder = variable("XDG_CONFIG_HOME");
    if (!folder.starts_with('/')) {
        const std::string home = variable("HOME");
        folder = home.starts_with('/') ? home + "/.config" : std::string();
    }
    while (folder.size() > 1 && folder.ends_with('/')) {
        folder.pop_back();
    }
    return {folder.empty() ? std::string() : folder + "/kqget/kqget.conf", "/etc/kqget/kqget.conf"};
}

std::FILE* openSettingsFile(const std::string& path, std::string& /*refusal*/)
{
    return std::fopen(path.c_str(), "rbe"); // 'e': not inherited by a child
}

} // namespace kqget
