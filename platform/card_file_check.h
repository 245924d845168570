#pragma once

#include "update/card_file_kind.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace kqget {

// A system's read of a file from where it is: fills the front of `piece` and
// shrinks it to what was read (to nothing at the file's end), or says why it
// could not read ("cannot read: ...").
using ReadPiece = std::function<std::optional<std::string>(std::span<char>& piece)>;

// The checks every system shares, over a card file of `size` bytes read from
// its start in pieces of one fixed size, the same whatever the file: over
// the size cap; else the PNG walk (png_check.h) or the XML check
// (xml_check.h). For a sound PNG, `pixels` is its image's size, for the
// system's own decoder to decide on.
std::optional<std::string> sharedDamage(CardFileKind kind, std::uint64_t size,
                                        const ReadPiece& read, std::uint64_t& pixels);

} // namespace kqget
