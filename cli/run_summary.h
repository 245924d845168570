#pragma once

#include "update/run_tally.h"

#include <string>
#include <string_view>

namespace kqget {

// What a finished run did, for stdout: counts, every file not stored with its
// URL and reason, and where the log is.
std::string runSummaryText(const RunTally& tally, std::string_view logPath);

} // namespace kqget
