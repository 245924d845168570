#pragma once

#include "update/service_bases.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace kqget {

// An environment variable's value as UTF-8, or none.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The bases a program uses: what the command's options say (`takesOptions`;
// the window has none), KQGET_INFO_BASE and KQGET_IMAGE_BASE, the user's
// settings file, the machine's, the build's default. Every file is read.
ServiceSettings resolveServiceSettings(const std::optional<std::string>& infoOption,
                                       const std::optional<std::string>& imageOption,
                                       bool takesOptions, const EnvironmentLookup& environment);

// Where the settings files are on this system: the user's, empty when the
// system cannot tell it, and the machine's. On Linux `environment` tells.
struct SettingsLocations
{
    std::string user;
    std::string machine;
};
SettingsLocations settingsLocations(const EnvironmentLookup& environment);

// The settings file at `path` opened to be read; null with errno set when it
// cannot be opened, or with `refusal` saying why it must not be read.
std::FILE* openSettingsFile(const std::string& path, std::string& refusal);

} // namespace kqget
