#pragma once

#include <string>

namespace kqget {

// The system's text for a GetLastError() code, with the code, e.g. "The
// system cannot find the path specified. (error 3)". WinHTTP's codes
// (12000-12999) are looked up in winhttp.dll, where their texts live.
std::string windowsErrorText(unsigned long error);

} // namespace kqget
