#pragma once

#include <cstdint>
#include <string>

namespace kqget {

// A file size as the log and the size field show it: plain decimal digits.
std::string sizeText(std::uint64_t size);

} // namespace kqget
