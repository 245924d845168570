#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace kqget {

// The first content coding named in a Content-Encoding value that is not
// among `decodable` (compared without case; "identity" is no coding), as the
// reply spelled it; empty when the transfer undoes every one.
std::string undecodableCoding(std::string_view contentEncoding,
                              std::initializer_list<std::string_view> decodable);

} // namespace kqget
