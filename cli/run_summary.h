#pragma once

#include "update/run_tally.h"

#include <chrono>
#include <string>
#include <string_view>

namespace kqget {

// What a finished run did, for stdout: counts, every file not stored with its
// URL and reason, every file stored but still too small, how long the run
// took and where the log is. URLs show the key as "…" and control characters
// as \xHH.
std::string runSummaryText(const RunTally& tally, std::string_view logPath,
                           std::chrono::milliseconds wallTime, std::string_view key);

} // namespace kqget
