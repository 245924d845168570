#include "app/win32/win32_message_boxes.h"

#include "platform/win32/wide_text.h"

#include <string>

namespace kqget {

namespace {

constexpr const wchar_t* kBoxTitle = L"kqget";

} // namespace

void SystemMessageBoxes::showFailure(HWND owner, int number, std::string_view description)
{
    const std::wstring text = L"Error " + std::to_wstring(number) + L"\n\n" + toWide(description);
    ::MessageBoxW(owner, text.c_str(), kBoxTitle, MB_OK | MB_ICONERROR);
}

void SystemMessageBoxes::showNotice(HWND owner, std::string_view text)
{
    ::MessageBoxW(owner, toWide(text).c_str(), kBoxTitle, MB_OK | MB_ICONINFORMATION);
}

} // namespace kqget
