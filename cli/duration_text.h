#pragma once

#include <chrono>
#include <string>

namespace kqget {

// A span of time as a person reads it: "0.4 s", "42 s", "8 min 05 s",
// "2 h 03 min". Precision shrinks as the span grows.
std::string durationText(std::chrono::milliseconds span);

} // namespace kqget
