#include "update/service_bases.h"

#include "update/build_config.h"
#include "update/run_inputs.h"

#include <algorithm>
#include <cctype>

namespace kqget {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view authorityOf(std::string_view url)
{
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return {};
    }
    url.remove_prefix(scheme + 3);
    return url.substr(0, url.find_first_of("/?#"));
}

// The host alone: no port, no brackets round an IPv6 address.
std::string_view hostOf(std::string_view authority)
{
    if (authority.starts_with('[')) {
        return authority.substr(1, authority.find(']') - 1);
    }
    return authority.substr(0, authority.rfind(':'));
}

bool sameOrigin(std::string_view url, std::string_view base)
{
    return url.size() >= base.size() && sameWithoutCase(url.substr(0, base.size()), base) &&
           (url.size() == base.size() || url[base.size()] == '/' || url[base.size()] == '?');
}

bool isBase(std::string_view url)
{
    const std::string_view authority = authorityOf(url);
    const std::size_t afterScheme = url.find("://") + 3;
    return (url.starts_with("http://") || url.starts_with("https://")) &&
           std::ranges::all_of(
               url, [](char c) { return static_cast<unsigned char>(c) > ' ' && c != 0x7f; }) &&
           !hostOf(authority).empty() &&
           (url.size() == afterScheme + authority.size() ||
            url.substr(afterScheme + authority.size()) == "/");
}

} // namespace

ServiceBases ServiceBases::configured()
{
    return {{std::string(kConfiguredInfoBase), "the build's default"},
            {std::string(kConfiguredImageBase), "the build's default"},
            false,
            {}};
}

std::string ServiceBases::unresolvedHostNote(std::string_view url) const
{
    for (const auto& [base, name] : {std::pair{&info, "info"}, std::pair{&image, "image"}}) {
        if (!sameOrigin(url, base->url)) {
            continue;
        }
        const std::string setting = std::string(name) + "-base";
        std::string note = "; " + std::string(hostOf(authorityOf(base->url))) + " is the " + name +
                           " base's host, set by " + base->setBy + "; to change it, " +
                           (takesOptions ? "give --" + setting + " URL, " : "") + "set " +
                           variableFor(setting);
        if (!userSettingsFile.empty()) {
            note += " or write '" + setting + " = URL' into " + userSettingsFile;
        }
        return note;
    }
    return {};
}

std::string variableFor(std::string_view setting)
{
    return setting == "info-base" ? "KQGET_INFO_BASE" : "KQGET_IMAGE_BASE";
}

ServiceSettings::ServiceSettings(bool takesOptions, std::string userSettingsFile)
{
    bases.takesOptions = takesOptions;
    bases.userSettingsFile = std::move(userSettingsFile);
}

void ServiceSettings::take(Strength strength, std::string_view setting, std::string_view value,
                           std::string setBy, std::string named)
{
    if (!isBase(value)) {
        return refuse((named.empty() ? setBy : named) +
                      " must be http:// or https:// and a host (with an optional :port) and "
                      "nothing after it, not '" +
                      std::string(value) + "'");
    }
    const bool info = setting == "info-base";
    Strength& heldBy = info ? m_infoSetBy : m_imageSetBy;
    if (strength <= heldBy) {
        heldBy = strength;
        value.remove_suffix(value.ends_with('/') ? 1 : 0);
        (info ? bases.info : bases.image) = {std::string(value), std::move(setBy)};
    }
}

void ServiceSettings::takeFile(Strength strength, const std::string& path, std::string_view text)
{
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    for (std::size_t number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A base holds no '#': whatever follows one is a comment.
        line = trimSpaces(line.substr(0, line.find('#')), " \t\r");
        if (line.empty()) {
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string_view name = trimSpaces(line.substr(0, equals), " \t\r");
        const std::string where =
            "settings file '" + path + "' line " + std::to_string(number) + ": ";
        if (equals == std::string_view::npos) {
            return refuse(where + "'" + std::string(line) +
                          "' is no setting: write name = value, such as "
                          "info-base = https://cards.example.net");
        }
        if (name != "info-base" && name != "image-base") {
            return refuse(where + "unknown setting '" + std::string(name) +
                          "': the settings are info-base and image-base");
        }
        take(strength, name, trimSpaces(line.substr(equals + 1), " \t\r"),
             "line " + std::to_string(number) + " of " + path, where + std::string(name));
    }
}

void ServiceSettings::refuse(std::string reason)
{
    if (problem.empty()) {
        problem = std::move(reason);
    }
}

std::string ServiceSettings::versionText() const
{
    std::string text = "kqget " + std::string(kDisplayVersion) + "\n";
    if (problem.empty()) {
        text += "info base:  " + bases.info.url + " (set by " + bases.info.setBy + ")\n" +
                "image base: " + bases.image.url + " (set by " + bases.image.setBy + ")\n";
    } else {
        text += "bases:      cannot be used: " + problem + "\n";
    }
    std::string_view label = "settings:   ";
    for (const std::string& file : files) {
        text.append(label).append(file).append("\n");
        label = "            ";
    }
    return text;
}

} // namespace kqget
