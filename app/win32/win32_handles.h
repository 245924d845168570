#pragma once

#include "platform/win32/unique_handle.h"

#include <objbase.h>
#include <windows.h>

namespace kqget {

inline void destroyWindow(HWND window) noexcept
{
    ::DestroyWindow(window);
}
inline void deleteGdiObject(HGDIOBJ object) noexcept
{
    ::DeleteObject(object);
}
inline void deleteDc(HDC dc) noexcept
{
    ::DeleteDC(dc);
}

using UniqueWindow = UniqueHandle<HWND, destroyWindow>;
using UniqueFont = UniqueHandle<HFONT, deleteGdiObject>;
using UniqueBitmap = UniqueHandle<HBITMAP, deleteGdiObject>;
using UniqueMemoryDc = UniqueHandle<HDC, deleteDc>;

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDc
{
public:
    explicit WindowDc(HWND window) noexcept : m_window(window), m_dc(::GetDC(window)) {}
    ~WindowDc()
    {
        if (m_dc != nullptr) {
            ::ReleaseDC(m_window, m_dc);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// COM on this thread for as long as it lives, in the model a window's thread
// needs; a thread that already has COM in another model keeps it.
class ComApartment
{
public:
    ComApartment() noexcept
        : m_joined(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    {}
    ~ComApartment()
    {
        if (m_joined) {
            ::CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_joined;
};

// One reference to a COM object, released when it goes.
template <typename Interface> class ComRef
{
public:
    ComRef() = default;
    explicit ComRef(Interface* object) noexcept : m_object(object) {}
    ~ComRef()
    {
        if (m_object != nullptr) {
            m_object->Release();
        }
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    Interface* get() const noexcept { return m_object; }
    explicit operator bool() const noexcept { return m_object != nullptr; }

private:
    Interface* m_object = nullptr;
};

} // namespace kqget
