#pragma once

#include <string>
#include <string_view>

namespace kqget::testing {

// The service's answers. Each depends only on its arguments, so a test can
// compute what a stored card file must hold.

// Names the card, key and user, so a test sees which request produced a file.
std::string cardXml(std::string_view cardId, std::string_view key, std::string_view user);

// A whole PNG image of a card-dependent pattern, always longer than the 11000
// bytes below which the client fetches an illustration again.
std::string cardPng(std::string_view cardId);

// A small page such as a web server sends with an error status.
std::string errorPage(int status);

} // namespace kqget::testing
