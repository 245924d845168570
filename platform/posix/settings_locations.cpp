#include "platform/service_settings.h"

namespace kqget {

SettingsLocations settingsLocations(const EnvironmentLookup& environment)
{
    // As the XDG base directory rules have it: a relative XDG_CONFIG_HOME is
    // ignored, and without it the user's is ~/.config.
    std::string folder = environment("XDG_CONFIG_HOME").value_or("");
    if (!folder.starts_with('/')) {
        const std::string home = environment("HOME").value_or("");
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
