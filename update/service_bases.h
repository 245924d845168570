#pragma once

#include "update/card_locations.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kqget {

// One base of the card service and the setting it came from, so that a host
// that cannot be found is told together with the place to change it.
struct ServiceBase
{
    std::string url;   // "http://host[:port]"
    std::string setBy; // "--info-base", "KQGET_INFO_BASE", "the build's default"
};

struct ServiceBases
{
    ServiceBase info;
    ServiceBase image;

    // The bases this build was configured with.
    static ServiceBases configured();

    ServiceHosts hosts() const { return {info.url, image.url}; }

    // For a fetch of `url` whose host could not be found: which base the host
    // is and what set it, e.g. "; info.kq.example is the info base's host, set
    // by KQGET_INFO_BASE"; empty for a URL of neither base.
    std::string unresolvedHostNote(std::string_view url) const;
};

// Why `url` cannot be a base: only http:// or https://, a host with an
// optional :port, and nothing after it (a path or a trailing '/' would be
// doubled or lost when the URLs are formed). None when it can.
std::optional<std::string> baseUrlProblem(std::string_view url);

// What may set the bases besides the build, the command's option before the
// environment's variable.
struct BaseSettings
{
    std::optional<std::string> infoOption;
    std::optional<std::string> imageOption;
    std::optional<std::string> infoVariable;  // KQGET_INFO_BASE
    std::optional<std::string> imageVariable; // KQGET_IMAGE_BASE
};

// The bases in effect: option over variable over the build's default; or
// why a setting cannot be used, naming it.
std::variant<ServiceBases, std::string> chooseServiceBases(const BaseSettings& settings);

// "  info base:  http://... (set by ...)" lines, for --version.
std::string serviceBasesText(const ServiceBases& bases);

} // namespace kqget
