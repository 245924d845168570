#include "update/service_bases.h"

#include "update/build_config.h"

#include <algorithm>
#include <cctype>

namespace kqget {

namespace {

constexpr std::string_view kBuildDefault = "the build's default";

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
    return url.size() >= base.size() &&
           std::equal(base.begin(), base.end(), url.begin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); }) &&
           (url.size() == base.size() || url[base.size()] == '/' || url[base.size()] == '?');
}

std::optional<ServiceBase>
chosen(const std::optional<std::string>& option, std::string_view optionName,
       const std::optional<std::string>& variable, std::string_view variableName,
       const std::vector<SettingsFile>& files, std::optional<SettingValue> SettingsFile::*inFile)
{
    if (option) {
        return ServiceBase{*option, std::string(optionName)};
    }
    if (variable) {
        return ServiceBase{*variable, std::string(variableName)};
    }
    for (const SettingsFile& file : files) {
        if (const auto& setting = file.*inFile) {
            return ServiceBase{setting->value,
                               "line " + std::to_string(setting->line) + " of " + file.path};
        }
    }
    return std::nullopt;
}

} // namespace

ServiceBases ServiceBases::configured()
{
    return {{std::string(kConfiguredInfoBase), std::string(kBuildDefault)},
            {std::string(kConfiguredImageBase), std::string(kBuildDefault)},
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
        std::string variable = "KQGET_" + setting;
        std::ranges::transform(variable, variable.begin(),
                               [](char c) { return c == '-' ? '_' : std::toupper(c); });
        std::string note = "; " + std::string(hostOf(authorityOf(base->url))) + " is the " + name +
                           " base's host, set by " + base->setBy + "; to change it, " +
                           (takesOptions ? "give --" + setting + " URL, " : "") + "set " + variable;
        if (!userSettingsFile.empty()) {
            note += " or write '" + setting + " = URL' into " + userSettingsFile;
        }
        return note;
    }
    return {};
}

std::optional<std::string> baseUrlProblem(std::string_view url)
{
    const bool schemeKnown = url.starts_with("http://") || url.starts_with("https://");
    const std::string_view authority = authorityOf(url);
    const bool plain = std::ranges::all_of(
        url, [](char c) { return static_cast<unsigned char>(c) > ' ' && c != 0x7f; });
    const std::string_view afterScheme =
        url.find("://") == std::string_view::npos ? url : url.substr(url.find("://") + 3);
    if (schemeKnown && plain && !authority.empty() && !hostOf(authority).empty() &&
        (afterScheme == authority || afterScheme.substr(authority.size()) == "/")) {
        return std::nullopt;
    }
    return "must be http:// or https:// and a host (with an optional :port) and nothing after "
           "it, not '" +
           std::string(url) + "'";
}

std::string normalisedBase(std::string_view url)
{
    return std::string(url.ends_with('/') ? url.substr(0, url.size() - 1) : url);
}

std::variant<ServiceBases, std::string> chooseServiceBases(const BaseSettings& settings)
{
    ServiceBases bases = ServiceBases::configured();
    const auto apply = [](ServiceBase& base,
                          std::optional<ServiceBase> setting) -> std::optional<std::string> {
        if (!setting) {
            return std::nullopt;
        }
        if (auto problem = baseUrlProblem(setting->url)) {
            return setting->setBy + " " + *problem;
        }
        base = {normalisedBase(setting->url), std::move(setting->setBy)};
        return std::nullopt;
    };
    if (auto problem =
            apply(bases.info, chosen(settings.infoOption, "--info-base", settings.infoVariable,
                                     "KQGET_INFO_BASE", settings.files, &SettingsFile::infoBase))) {
        return *problem;
    }
    if (auto problem = apply(bases.image, chosen(settings.imageOption, "--image-base",
                                                 settings.imageVariable, "KQGET_IMAGE_BASE",
                                                 settings.files, &SettingsFile::imageBase))) {
        return *problem;
    }
    bases.takesOptions = settings.takesOptions;
    bases.userSettingsFile = settings.userSettingsFile;
    return bases;
}

std::string serviceBasesText(const ServiceBases& bases)
{
    return "info base:  " + bases.info.url + " (set by " + bases.info.setBy + ")\n" +
           "image base: " + bases.image.url + " (set by " + bases.image.setBy + ")\n";
}

} // namespace kqget
