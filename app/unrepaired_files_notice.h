#pragma once

#include "update/run_tally.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// How many URLs the notice lists; the log has every one.
inline constexpr std::size_t kNoticeUrls = 5;

// What the window tells the user after "DONE !" when the run left files that
// the next run fetches again: some were not stored, some were stored but are
// still too small. Gives their number, the first few URLs with the account key
// hidden, and where the log is. None when every file was stored whole.
std::optional<std::string> unrepairedFilesNotice(const RunTally& tally, std::string_view key,
                                                 std::string_view logPath);

} // namespace kqget
