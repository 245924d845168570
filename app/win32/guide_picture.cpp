#include "app/win32/guide_picture.h"

#include "platform/win32/windows_error_text.h"

#include <gdiplus.h>
#include <objidl.h>
#include <shlwapi.h>
#include <stdexcept>
#include <string>

namespace kqget {

namespace {

IStream* resourceStream(HMODULE module)
{
    const auto fail = [](const char* step) {
        throw std::runtime_error(std::string("the guide picture resource cannot be ") + step +
                                 ": " + windowsErrorText(::GetLastError()));
    };
    HRSRC found = ::FindResourceW(module, kGuidePictureResourceName, RT_RCDATA);
    if (found == nullptr) {
        fail("found");
    }
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        fail("loaded");
    }
    // A copy in memory: the stream owns it, and GDI+ may seek in it.
    IStream* stream =
        ::SHCreateMemStream(static_cast<const BYTE*>(bytes), ::SizeofResource(module, found));
    if (stream == nullptr) {
        throw std::runtime_error("the guide picture cannot be put into a memory stream");
    }
    return stream;
}

} // namespace

GuidePicture::GuidePicture(HMODULE module)
    : m_stream(resourceStream(module)), m_bitmap(std::make_unique<Gdiplus::Bitmap>(m_stream.get()))
{
    if (const Gdiplus::Status status = m_bitmap->GetLastStatus(); status != Gdiplus::Ok) {
        throw std::runtime_error("the guide picture cannot be decoded (GDI+ status " +
                                 std::to_string(static_cast<int>(status)) + ")");
    }
}

GuidePicture::~GuidePicture() = default;

void GuidePicture::draw(HDC dc, const RECT& area, UINT dpi) const
{
    Gdiplus::Graphics graphics(dc);
    graphics.SetClip(
        Gdiplus::Rect(area.left, area.top, area.right - area.left, area.bottom - area.top));
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    const int width =
        ::MulDiv(static_cast<int>(m_bitmap->GetWidth()), dpi, USER_DEFAULT_SCREEN_DPI);
    const int height =
        ::MulDiv(static_cast<int>(m_bitmap->GetHeight()), dpi, USER_DEFAULT_SCREEN_DPI);
    graphics.DrawImage(m_bitmap.get(), Gdiplus::Rect(area.left, area.top, width, height));
}

} // namespace kqget
