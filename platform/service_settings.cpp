#include "platform/service_settings.h"

#include "platform/system_error_text.h"

#include <cerrno>
#include <memory>

namespace kqget {

namespace {

// A settings file holds two lines; anything much larger is no settings file.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

// The text of the settings file at `path`, or none when there is none. One
// that cannot be read makes `settings` unusable, naming the path and why.
std::optional<std::string> readSettingsText(const std::string& path, ServiceSettings& settings)
{
    std::string refusal;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(openSettingsFile(path, refusal),
                                                               &std::fclose);
    const int openError = errno;
    if (!file && refusal.empty() && (openError == ENOENT || openError == ENOTDIR)) {
        return std::nullopt;
    }
    std::string text(kMaxSettingsBytes + 1, '\0');
    if (file) {
        text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    }
    if (!refusal.empty()) {
        settings.refuse(std::move(refusal));
    } else if (!file || std::ferror(file.get()) != 0) {
        settings.refuse("cannot read settings file '" + path +
                        "': " + systemErrorText(file ? errno : openError));
    } else if (text.size() > kMaxSettingsBytes) {
        settings.refuse("settings file '" + path + "' is longer than " +
                        std::to_string(kMaxSettingsBytes) + " bytes: not a settings file");
    } else {
        return text;
    }
    return std::string();
}

} // namespace

ServiceSettings resolveServiceSettings(const std::optional<std::string>& infoOption,
                                       const std::optional<std::string>& imageOption,
                                       bool takesOptions, const EnvironmentLookup& environment)
{
    const SettingsLocations locations = settingsLocations(environment);
    ServiceSettings settings(takesOptions, locations.user);
    for (const auto& [setting, option] :
         {std::pair{"info-base", &infoOption}, std::pair{"image-base", &imageOption}}) {
        if (*option) {
            settings.take(ServiceSettings::Option, setting, **option, "--" + std::string(setting));
        }
        const std::string variable = variableFor(setting);
        if (const auto value = environment(variable.c_str())) {
            settings.take(ServiceSettings::Variable, setting, *value, variable);
        }
    }
    for (const auto& [path, strength] :
         {std::pair{&locations.user, ServiceSettings::UserFile},
          std::pair{&locations.machine, ServiceSettings::MachineFile}}) {
        if (path->empty()) {
            continue;
        }
        const std::optional<std::string> text = readSettingsText(*path, settings);
        settings.files.push_back(*path + (text ? "" : " (absent)"));
        settings.takeFile(strength, *path, text.value_or(""));
    }
    return settings;
}

} // namespace kqget
