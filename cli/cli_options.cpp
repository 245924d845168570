#include "cli/cli_options.h"

#include "platform/system_error_text.h"

#include <cerrno>
#include <fstream>
#include <functional>
#include <optional>
#include <utility>

namespace kqget {

namespace {

struct KeyFileLine
{
    std::optional<std::string> line;
    std::string failure;
};

KeyFileLine readFirstLine(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {std::nullopt, "cannot read key file '" + path + "': " + systemErrorText(errno)};
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return {line, {}};
}

} // namespace

std::string usageText()
{
    return "Usage: kqget-cli --key KEY --user NAME --data FOLDER [--quiet]\n"
           "       kqget-cli --key-file FILE --user NAME --data FOLDER [--quiet]\n"
           "       kqget-cli --help | --version\n"
           "\n"
           "Fetches every card file of the KQ data folder that is missing or too small\n"
           "and writes the run log KQ-GET-PNG-XML.txt into the current folder.\n"
           "\n"
           "  --key KEY        the account key (or set KQGET_KEY, or use --key-file)\n"
           "  --key-file FILE  read the account key from the first line of FILE\n"
           "  --user NAME      the account user name\n"
           "  --data FOLDER    the data folder that holds the card folders\n"
           "  --quiet          no progress line and no summary\n"
           "  --help           show this text\n"
           "  --version        show the version\n"
           "\n"
           "Exit status: 0 done, every fetch stored; 1 done, some fetch not stored;\n"
           "2 a failure ended the run; 64 bad usage; 130 interrupted.\n";
}

std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& arguments,
                                                        const char* keyFromEnvironment)
{
    CliOptions options;
    std::optional<std::string> key;
    std::optional<std::string> keyFile;
    std::optional<std::string> user;
    std::optional<std::string> data;

    const std::pair<std::string_view, std::optional<std::string>*> valued[] = {
        {"--key", &key}, {"--key-file", &keyFile}, {"--user", &user}, {"--data", &data}};
    const std::pair<std::string_view, std::function<void()>> flags[] = {
        {"--quiet", [&] { options.quiet = true; }},
        {"--help", [&] { options.action = CliOptions::Action::Help; }},
        {"--version", [&] { options.action = CliOptions::Action::Version; }},
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> inlineValue;
        if (const auto equals = name.find('='); name.starts_with("--") && equals != name.npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "-h") {
            name = "--help";
        } else if (name == "-q") {
            name = "--quiet";
        }

        bool known = false;
        for (const auto& [option, slot] : valued) {
            if (name != option) {
                continue;
            }
            if (inlineValue) {
                *slot = std::move(inlineValue);
            } else if (i + 1 < arguments.size()) {
                *slot = arguments[++i];
            } else {
                return CliUsageError{name + " needs a value"};
            }
            known = true;
        }
        for (const auto& [option, apply] : flags) {
            if (name != option) {
                continue;
            }
            if (inlineValue) {
                return CliUsageError{name + " takes no value"};
            }
            apply();
            known = true;
        }
        if (!known) {
            return CliUsageError{"unknown argument '" + arguments[i] + "'"};
        }
    }

    if (options.action != CliOptions::Action::Run) {
        return options;
    }
    if (!key && keyFile) {
        KeyFileLine read = readFirstLine(*keyFile);
        if (!read.line) {
            return CliUsageError{read.failure};
        }
        key = std::move(read.line);
    }
    if (!key && keyFromEnvironment != nullptr) {
        key = keyFromEnvironment;
    }
    if (!key) {
        return CliUsageError{"the account key is missing: give --key, --key-file or KQGET_KEY"};
    }
    if (!user) {
        return CliUsageError{"the user name is missing: give --user"};
    }
    if (!data) {
        return CliUsageError{"the data folder is missing: give --data"};
    }
    options.inputs = {std::move(*key), std::move(*user), std::move(*data)};
    return options;
}

} // namespace kqget
