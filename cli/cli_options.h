#pragma once

#include "update/run_inputs.h"

#include <string>
#include <variant>
#include <vector>

namespace kqget {

// What a valid command line asks for.
struct CliOptions
{
    enum class Action
    {
        Run,
        Help,
        Version
    };

    Action action = Action::Run;
    RunInputs inputs;
    bool quiet = false;
};

// Why a command line cannot be used.
struct CliUsageError
{
    std::string message;
};

// Parses the arguments after the program name. The key may also come from
// `--key-file FILE` (its first line) or from `keyFromEnvironment` (KQGET_KEY),
// so that it need not show in the process list; `--key` wins over the file,
// the file over the environment.
std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& arguments,
                                                        const char* keyFromEnvironment);

std::string usageText();

} // namespace kqget
