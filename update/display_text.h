#pragma once

#include <string>
#include <string_view>

namespace kqget {

// Writes each control character (C0, DEL, and C1 in UTF-8) as \xHH, byte by
// byte, so that a card name can neither forge a log line nor drive a terminal.
// Everything else, backslashes included, stays as it is.
std::string escapeControls(std::string_view text);

// True when `text` holds nothing escapeControls() would change.
bool isFreeOfControls(std::string_view text) noexcept;

// What the user sees on screen in place of the account key.
inline constexpr std::string_view kHiddenKey = "…";

// `text` with the account key's value in every "mlunkey=" parameter shown as
// kHiddenKey, for whatever the user sees on screen. The log keeps the real URLs.
std::string hideKey(std::string_view text, std::string_view key);

// Says that a run found no card folder in `dataFolder`: a mistyped folder
// would otherwise look like a library with nothing to repair.
std::string noCardFoldersText(std::string_view dataFolder);

} // namespace kqget
