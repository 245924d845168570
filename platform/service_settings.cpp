#include "platform/service_settings.h"

#include "platform/system_error_text.h"
#include "update/build_config.h"

#include <cerrno>
#include <memory>

namespace kqget {

namespace {

// A settings file holds two lines; anything much larger is no settings file.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

// A settings file read whole: its text, or that it is not there, or why it
// cannot be read (naming the path and the system's reason).
struct SettingsText
{
    bool present = false;
    std::string text;
    std::string failure;
};

SettingsText readSettingsText(const std::string& path)
{
    std::string refusal;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(openSettingsFile(path, refusal),
                                                               &std::fclose);
    const auto failed = [&path](int error) {
        return SettingsText{
            false, {}, "cannot read settings file '" + path + "': " + systemErrorText(error)};
    };
    if (!file) {
        const int error = errno;
        if (!refusal.empty()) {
            return {false, {}, std::move(refusal)};
        }
        return error == ENOENT || error == ENOTDIR ? SettingsText{} : failed(error);
    }
    SettingsText read{true, {}, {}};
    char buffer[4096];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        read.text.append(buffer, got);
        if (read.text.size() > kMaxSettingsBytes) {
            return {false,
                    {},
                    "settings file '" + path + "' is longer than " +
                        std::to_string(kMaxSettingsBytes) + " bytes: not a settings file"};
        }
        if (got < sizeof buffer) {
            return std::ferror(file.get()) != 0 ? failed(errno) : read;
        }
    }
}

} // namespace

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
