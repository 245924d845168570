#pragma once

#include "update/card_locations.h"

#include <string>
#include <string_view>
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

// "KQGET_INFO_BASE" for the setting "info-base".
std::string variableFor(std::string_view setting);

// The bases a program uses, from the settings it was given, and what
// --version tells of them. A base takes the value of its strongest setting
// (a later line of one file over an earlier one); what none sets keeps the
// build's default. Every setting given must be sound, also one a stronger
// setting overrides. kqget reads settings files and never writes them.
class ServiceSettings
{
public:
    enum Strength
    {
        Option,
        Variable,
        UserFile,
        MachineFile,
        BuildDefault
    };

    ServiceBases bases = ServiceBases::configured();
    std::string problem;            // why the bases cannot be used; empty when they can
    std::vector<std::string> files; // each settings file looked at, as --version names it

    ServiceSettings(bool takesOptions, std::string userSettingsFile);

    // Takes `value` for `setting` ("info-base" or "image-base"), set by
    // `setBy`. A base is http:// or https://, a host with an optional :port,
    // and nothing after it but one '/', which is dropped: a path would be
    // doubled or lost when the URLs are formed. A value that cannot be one is
    // refused naming `named`, else `setBy`.
    void take(Strength strength, std::string_view setting, std::string_view value,
              std::string setBy, std::string named = {});

    // Takes the settings in `text`, the content of the file at `path`: lines
    // of "name = value", '#' starting a comment to the line's end, blank lines
    // between; UTF-8 with or without a byte-order mark, lines ending in LF or
    // CR LF; no sections. A line without '=', a name kqget does not know or a
    // base that cannot be one is refused naming the file and the line.
    void takeFile(Strength strength, const std::string& path, std::string_view text);

    // Makes the bases unusable for the reason given, unless one was given first.
    void refuse(std::string reason);

    // The version, each base and what set it (or why the bases cannot be
    // used), and the settings files looked at.
    std::string versionText() const;

private:
    Strength m_infoSetBy = BuildDefault;
    Strength m_imageSetBy = BuildDefault;
};

} // namespace kqget
