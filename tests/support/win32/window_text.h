#pragma once

#include "platform/win32/wide_text.h"

#include <stdexcept>
#include <string>
#include <windows.h>

namespace kqget::testing {

// The text of another program's window, asked for as any program asks: a
// window that does not answer within `replyMs` is reported, never waited on.
inline std::string windowText(HWND window, UINT replyMs = 10'000)
{
    std::wstring wide(4096, L'\0');
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, wide.size(),
                               reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG, replyMs,
                               &length)) {
        const DWORD error = ::GetLastError();
        throw std::runtime_error("a window does not answer: error " + std::to_string(error) +
                                 (::IsWindow(window) ? "" : ", the window is gone"));
    }
    wide.resize(length);
    return toUtf8(wide);
}

} // namespace kqget::testing
