#pragma once

#include <cstdint>
#include <string>

namespace kqget::sample {

// The id of card `index`: the letters A to D take turns and the four characters
// after the letter count in base 36, so up to 4 * 36^4 cards get distinct ids.
std::string cardId(std::uint64_t index);

// Creates or empties `path` and gives it `size` bytes without writing them, so
// a large library takes no room. Throws std::runtime_error naming the path.
void makeSparseFile(const std::string& path, std::uint64_t size);

// Fills `folder` (created if absent; its parent must exist) with `count` card folders whose
// files are all in order: a one-byte XML and an illustration of
// `illustrationSize` bytes, both sparse. A run over it only looks.
void makeCardsInOrder(const std::string& folder, std::uint64_t count,
                      std::uint64_t illustrationSize);

} // namespace kqget::sample
