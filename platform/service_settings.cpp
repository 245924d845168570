#include "platform/service_settings.h"

#include "update/build_config.h"

namespace kqget {

ServiceSettings resolveServiceSettings(std::optional<std::string> infoOption,
                                       std::optional<std::string> imageOption, bool takesOptions,
                                       const EnvironmentLookup& environment,
                                       const SettingsLocations& locations)
{
    ServiceSettings settings;
    BaseSettings sources{std::move(infoOption),
                         std::move(imageOption),
                         environment("KQGET_INFO_BASE"),
                         environment("KQGET_IMAGE_BASE"),
                         {},
                         takesOptions,
                         locations.user};
    for (const std::string& path : {locations.user, locations.machine}) {
        if (path.empty()) {
            continue;
        }
        const SettingsText read = readSettingsText(path);
        if (!read.failure.empty()) {
            settings.bases = read.failure;
            return settings;
        }
        if (!read.present) {
            settings.files.push_back({path, false, std::nullopt, std::nullopt});
            continue;
        }
        auto parsed = parseSettingsFile(path, read.text);
        if (auto* problem = std::get_if<std::string>(&parsed)) {
            settings.files.push_back({path, true, std::nullopt, std::nullopt});
            settings.bases = std::move(*problem);
            return settings;
        }
        settings.files.push_back(std::get<SettingsFile>(parsed));
    }
    sources.files = settings.files;
    settings.bases = chooseServiceBases(sources);
    return settings;
}

std::string versionText(const ServiceSettings& settings)
{
    std::string text = "kqget " + std::string(kDisplayVersion) + "\n";
    if (const auto* bases = std::get_if<ServiceBases>(&settings.bases)) {
        text += serviceBasesText(*bases);
    } else {
        text += "bases:      cannot be used: " + std::get<std::string>(settings.bases) + "\n";
    }
    std::string_view label = "settings:   ";
    for (const SettingsFile& file : settings.files) {
        text.append(label).append(file.path).append(file.present ? "\n" : " (absent)\n");
        label = "            ";
    }
    return text;
}

} // namespace kqget
