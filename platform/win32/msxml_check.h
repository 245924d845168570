#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kqget {

// What is wrong with the XML file at `path` (a wide path), read by MSXML 6's
// SAX reader: a system library on every Windows since Vista. Its limits are
// kqget's (content_check_rules.h), counted here as the document is read:
// elements nested deeper than the limit, entities expanding the text beyond
// it. A DOCTYPE is read with its internal subset; no external DTD or entity
// is ever read. `fileBytes` is the file's size, what expansion is measured by.
std::optional<std::string> msxmlDamage(const std::wstring& path, std::uint64_t fileBytes);

} // namespace kqget
