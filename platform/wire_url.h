#pragma once

#include <string>
#include <string_view>

namespace kqget {

// Placeholder until the libcurl transfer lands.
std::string wireUrl(std::string_view url);

} // namespace kqget
