#pragma once

#include <string>
#include <string_view>

namespace kqget {

// Text from a card folder's name or a server can hold control characters that
// would move a terminal's cursor or start a new line; on screen each is shown
// as \xHH instead (C0, DEL and the UTF-8 form of C1).
std::string escapeControls(std::string_view text);

// The text with the account key's value shown as "…": every `mlunkey=` value
// (as typed or wire-encoded) and every other occurrence of the key itself.
// A key of fewer than four characters is only hidden after `mlunkey=`, since
// its bare occurrences would be found inside ordinary words.
std::string hideKey(std::string_view text, std::string_view key);

} // namespace kqget
