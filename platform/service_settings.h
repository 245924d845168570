#pragma once

#include "platform/settings_locations.h"
#include "update/service_bases.h"
#include "update/settings_file.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kqget {

// An environment variable's value as UTF-8, or none.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The bases a program uses and the settings files it looked at for them.
struct ServiceSettings
{
    std::variant<ServiceBases, std::string> bases; // or why they cannot be used
    std::vector<SettingsFile> files;               // each looked at, present or absent
};

// What the command's options say (`takesOptions`; the window has none), then
// KQGET_INFO_BASE and KQGET_IMAGE_BASE, then the user's settings file, then
// the machine's, then the build's default. Every file is read, and must be
// sound, even where an option or a variable overrides what it says.
ServiceSettings resolveServiceSettings(std::optional<std::string> infoOption,
                                       std::optional<std::string> imageOption, bool takesOptions,
                                       const EnvironmentLookup& environment,
                                       const SettingsLocations& locations = settingsLocations());

// What --version shows: the version, each base and what set it (or why the
// bases cannot be used), and the settings files looked at.
std::string versionText(const ServiceSettings& settings);

} // namespace kqget
