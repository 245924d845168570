#pragma once

#include <string>

namespace kqget {

// The system's text for an errno value, e.g. "No space left on device".
std::string systemErrorText(int errorNumber);

} // namespace kqget
