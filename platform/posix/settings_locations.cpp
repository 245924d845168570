#include "platform/settings_locations.h"

#include "platform/posix/unique_fd.h"
#include "platform/system_error_text.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace kqget {

namespace {

// A settings file holds two lines; anything much larger is no settings file.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

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

SettingsText readSettingsText(const std::string& path)
{
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const auto failed = [&path](int error) {
        return SettingsText{
            false, {}, "cannot read settings file '" + path + "': " + systemErrorText(error)};
    };
    if (!file.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return {};
        }
        return failed(errno);
    }
    SettingsText read{true, {}, {}};
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return failed(errno);
        }
        if (got == 0) {
            return read;
        }
        read.text.append(buffer, static_cast<std::size_t>(got));
        if (read.text.size() > kMaxSettingsBytes) {
            return {false,
                    {},
                    "settings file '" + path + "' is longer than " +
                        std::to_string(kMaxSettingsBytes) + " bytes: not a settings file"};
        }
    }
}

} // namespace kqget
