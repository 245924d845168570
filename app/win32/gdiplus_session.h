#pragma once

#include <windows.h>

namespace kqget {

// GDI+ from start-up to shut-down: every GDI+ object of the program lives
// inside one session.
class GdiplusSession
{
public:
    GdiplusSession(); // throws std::runtime_error with GDI+'s status
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

private:
    ULONG_PTR m_token = 0;
};

} // namespace kqget
