#include "update/settings_file.h"

#include "update/run_inputs.h"
#include "update/service_bases.h"

namespace kqget {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

} // namespace

std::variant<SettingsFile, std::string> parseSettingsFile(std::string path, std::string_view text)
{
    SettingsFile file{std::move(path), true, std::nullopt, std::nullopt};
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        // A base holds no '#': whatever follows one is a comment.
        line = trimSpaces(line.substr(0, line.find('#')), " \t\r");
        if (line.empty()) {
            continue;
        }
        const auto problem = [&](const std::string& what) {
            return "settings file '" + file.path + "' line " + std::to_string(lineNumber) + ": " +
                   what;
        };
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return problem("'" + std::string(line) +
                           "' is no setting: write name = value, such as "
                           "info-base = https://cards.example.net");
        }
        const std::string_view name = trimSpaces(line.substr(0, equals), " \t\r");
        const std::string_view value = trimSpaces(line.substr(equals + 1), " \t\r");
        std::optional<SettingValue>* slot = name == "info-base"    ? &file.infoBase
                                            : name == "image-base" ? &file.imageBase
                                                                   : nullptr;
        if (slot == nullptr) {
            return problem("unknown setting '" + std::string(name) +
                           "': the settings are info-base and image-base");
        }
        if (auto bad = baseUrlProblem(value)) {
            return problem(std::string(name) + " " + *bad);
        }
        *slot = SettingValue{normalisedBase(value), lineNumber};
    }
    return file;
}

} // namespace kqget
