#pragma once

#include <string>
#include <system_error>

namespace kqget {

// The system's text for an errno value, e.g. "No space left on device".
inline std::string systemErrorText(int errorNumber)
{
    return std::generic_category().message(errorNumber);
}

} // namespace kqget
