#include "app/win32/gdiplus_session.h"

#include <gdiplus.h>
#include <stdexcept>
#include <string>

namespace kqget {

GdiplusSession::GdiplusSession()
{
    const Gdiplus::GdiplusStartupInput input;
    const Gdiplus::Status status = Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
    if (status != Gdiplus::Ok) {
        throw std::runtime_error("GDI+ cannot start (status " +
                                 std::to_string(static_cast<int>(status)) + ")");
    }
}

GdiplusSession::~GdiplusSession()
{
    Gdiplus::GdiplusShutdown(m_token);
}

} // namespace kqget
