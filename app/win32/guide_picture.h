#pragma once

#include "app/win32/win32_handles.h"

#include <memory>
#include <windows.h>

struct IStream;
namespace Gdiplus {
class Bitmap;
}

namespace kqget {

// The name of the guide picture's JPEG among the program's resources.
inline constexpr const wchar_t* kGuidePictureResourceName = L"GUIDE_PICTURE";

// The registry editor's picture that shows where the key and user name are,
// decoded by GDI+ from the JPEG built into the program. Needs a GdiplusSession
// for its whole life.
class GuidePicture
{
public:
    // Throws std::runtime_error when the resource is missing or not a picture.
    explicit GuidePicture(HMODULE module);
    ~GuidePicture();
    GuidePicture(const GuidePicture&) = delete;
    GuidePicture& operator=(const GuidePicture&) = delete;

    // Draws at the top-left corner of `area`, at its natural size for `dpi`
    // (1:1 at 96), cut off where `area` ends.
    void draw(HDC dc, const RECT& area, UINT dpi) const;

private:
    ComRef<IStream> m_stream; // GDI+ reads the picture from it as it needs
    std::unique_ptr<Gdiplus::Bitmap> m_bitmap;
};

} // namespace kqget
