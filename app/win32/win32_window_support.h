#pragma once

#include "platform/win32/windows_error_text.h"

#include <stdexcept>
#include <string>
#include <windows.h>

namespace kqget {

// What the window's files share: a failed system call as the exception that
// ends the program, and a control's text.

[[noreturn]] inline void failWithLastError(const std::string& what)
{
    throw std::runtime_error(what + ": " + windowsErrorText(::GetLastError()));
}

inline constexpr int kTwipsPerInch = 1440;

inline int twipsToPixelsAt(int twips, UINT dpi)
{
    return ::MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch);
}

inline std::wstring windowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace kqget
