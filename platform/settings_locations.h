#pragma once

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

// A small text file read whole: its text, or that it is not there, or why
// it cannot be read (naming the path and the system's reason).
struct SettingsText
{
    bool present = false;
    std::string text;
    std::string failure;
};
SettingsText readSettingsText(const std::string& path);

} // namespace kqget
