#pragma once

#include <cstdio>
#include <string>

namespace kqget {

// Where the settings files are on this system: the user's, empty when the
// system cannot tell it, and the machine's.
struct SettingsLocations
{
    std::string user;
    std::string machine;
};
SettingsLocations settingsLocations();

// The settings file at `path` opened to be read; null with errno set when it
// cannot be opened, or with `refusal` saying why it must not be read.
std::FILE* openSettingsFile(const std::string& path, std::string& refusal);

} // namespace kqget
