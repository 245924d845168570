#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kqget {

// The exit statuses of kqget-cli.
enum class ExitStatus : int
{
    Done = 0,
    SomeNotStored = 1,
    Failed = 2,
    Usage = 64,
    Interrupted = 130,
};

// The whole headless command, from arguments to exit status.
int runCliCommand(const std::vector<std::string>& arguments);

} // namespace kqget
