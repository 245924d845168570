#pragma once

#include "update/card_locations.h"
#include "update/settings_file.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kqget {

// One base of the card service and the setting it came from, so that a host
// that cannot be found is told together with the place to change it.
struct ServiceBase
{
    std::string url;   // "http://host[:port]"
    std::string setBy; // "--info-base", "KQGET_INFO_BASE", "line 2 of FILE", "the build's default"
};

struct ServiceBases
{
    ServiceBase info;
    ServiceBase image;
    // How its user sets them, for a host that cannot be found: the command's
    // options where the program has them, and the user's settings file.
    bool takesOptions = false;
    std::string userSettingsFile;

    // The bases this build was configured with.
    static ServiceBases configured();

    ServiceHosts hosts() const { return {info.url, image.url}; }

    // For a fetch of `url` whose host could not be found: which base the host
    // is, what set it and how to set another, e.g. "; info.kq.example is the
    // info base's host, set by KQGET_INFO_BASE; to change it, ..."; empty for
    // a URL of neither base.
    std::string unresolvedHostNote(std::string_view url) const;
};

// Why `url` cannot be a base: only http:// or https://, a host with an
// optional :port, and nothing after it but one '/' (a path would be doubled
// or lost when the URLs are formed). None when it can.
std::optional<std::string> baseUrlProblem(std::string_view url);

// A base as the URLs are formed from it: without its trailing '/'.
std::string normalisedBase(std::string_view url);

// What may set the bases besides the build, in this order: the command's
// option, the environment's variable, the settings files.
struct BaseSettings
{
    std::optional<std::string> infoOption;
    std::optional<std::string> imageOption;
    std::optional<std::string> infoVariable;  // KQGET_INFO_BASE
    std::optional<std::string> imageVariable; // KQGET_IMAGE_BASE
    std::vector<SettingsFile> files;          // the user's, then the machine's
    bool takesOptions = false;                // the command has --info-base
    std::string userSettingsFile;             // where its user would write them
};

// The bases in effect: option over variable over the user's file over the
// machine's over the build's default; or why a setting cannot be used,
// naming it.
std::variant<ServiceBases, std::string> chooseServiceBases(const BaseSettings& settings);

// "  info base:  http://... (set by ...)" lines, for --version.
std::string serviceBasesText(const ServiceBases& bases);

} // namespace kqget
