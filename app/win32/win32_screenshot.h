#pragma once

#include <string_view>
#include <windows.h>

namespace kqget {

// Saves what the window's client area shows as a PNG file (UTF-8 path), as
// the screen has it. Needs a GdiplusSession; throws std::runtime_error naming
// the path and the reason.
void saveClientAreaPng(HWND window, std::string_view path);

} // namespace kqget
