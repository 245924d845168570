#pragma once

#include "update/run_inputs.h"
#include "update/run_options.h"

#include <optional>
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
    bool verify = false; // look into the files kept, not only at their sizes
    std::size_t jobs = kDefaultJobs;
    std::string proxy;                    // empty: the environment's
    std::optional<std::string> infoBase;  // --info-base, checked with the variables
    std::optional<std::string> imageBase; // --image-base
};

// A key file's first line is read up to this length; a longer one is no key
// (and /dev/zero must not fill the memory).
inline constexpr std::size_t kMaxKeyFileLine = 4096;

// Why a command line cannot be used.
struct CliUsageError
{
    std::string message;
};

// Parses the arguments after the program name. The key may also come from
// `--key-file FILE` (its first line) or from `keyFromEnvironment` (KQGET_KEY),
// so that it need not show in the process list; `--key` wins over the file,
// the file over the environment. A key or user name that is empty once its
// spaces are trimmed is refused, wherever it came from.
std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& arguments,
                                                        const char* keyFromEnvironment);

std::string usageText();

} // namespace kqget
