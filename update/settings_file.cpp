#include "update/settings_file.h"

#include "update/service_bases.h"

namespace kqget {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

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
        line = trimmed(line.substr(0, line.find('#')));
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
        const std::string_view name = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
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
