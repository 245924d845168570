#pragma once

#include <string>
#include <vector>

namespace kqget {

// The whole headless command, from arguments to exit status (ExitStatus).
int runCliCommand(const std::vector<std::string>& arguments);

} // namespace kqget
