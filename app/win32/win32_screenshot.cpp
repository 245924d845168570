#include "app/win32/win32_screenshot.h"

#include "app/win32/win32_handles.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"

#include <gdiplus.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace kqget {

namespace {

CLSID pngEncoder()
{
    UINT count = 0;
    UINT bytes = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &bytes) == Gdiplus::Ok && bytes > 0) {
        std::vector<unsigned char> buffer(bytes);
        auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
        if (Gdiplus::GetImageEncoders(count, bytes, encoders) == Gdiplus::Ok) {
            for (UINT index = 0; index < count; ++index) {
                if (std::wstring_view(encoders[index].MimeType) == L"image/png") {
                    return encoders[index].Clsid;
                }
            }
        }
    }
    throw std::runtime_error("GDI+ has no PNG encoder");
}

} // namespace

void saveClientAreaPng(HWND window, std::string_view path)
{
    const auto fail = [path](const std::string& reason) {
        throw std::runtime_error("cannot save " + std::string(path) + ": " + reason);
    };
    RECT client{};
    ::GetClientRect(window, &client);
    const WindowDc screen(window);
    UniqueMemoryDc memory(::CreateCompatibleDC(screen.get()));
    UniqueBitmap bitmap(::CreateCompatibleBitmap(screen.get(), client.right, client.bottom));
    if (!memory || !bitmap) {
        fail(windowsErrorText(::GetLastError()));
    }
    const HGDIOBJ previous = ::SelectObject(memory.get(), bitmap.get());
    const bool copied =
        ::BitBlt(memory.get(), 0, 0, client.right, client.bottom, screen.get(), 0, 0, SRCCOPY);
    const DWORD copyError = ::GetLastError();
    ::SelectObject(memory.get(), previous);
    if (!copied) {
        fail(windowsErrorText(copyError));
    }
    Gdiplus::Bitmap picture(bitmap.get(), nullptr);
    const CLSID encoder = pngEncoder();
    const Gdiplus::Status status = picture.Save(toWide(path).c_str(), &encoder, nullptr);
    if (status != Gdiplus::Ok) {
        fail("GDI+ status " + std::to_string(static_cast<int>(status)));
    }
}

} // namespace kqget
