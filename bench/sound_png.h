#pragma once

#include <cstdint>
#include <string>

namespace kqget::bench {

// A whole RGB PNG image of width x height, compressed as an encoder would: a
// smooth picture with some noise, so that it inflates to about three times
// its size, like a card's illustration. `seed` makes each one different.
std::string soundPng(std::uint32_t width, std::uint32_t height, std::uint64_t seed);

} // namespace kqget::bench
