#pragma once

#include <utility>
#include <windows.h>

namespace kqget {

// Owns one handle of the window's world and frees it with `Free` when it goes.
template <typename Handle, auto Free> class UniqueWin32
{
public:
    UniqueWin32() = default;
    explicit UniqueWin32(Handle handle) noexcept : m_handle(handle) {}
    ~UniqueWin32() { reset(); }
    UniqueWin32(UniqueWin32&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    UniqueWin32& operator=(UniqueWin32&& other) noexcept
    {
        if (this != &other) {
            reset(std::exchange(other.m_handle, nullptr));
        }
        return *this;
    }
    UniqueWin32(const UniqueWin32&) = delete;
    UniqueWin32& operator=(const UniqueWin32&) = delete;

    Handle get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }
    void reset(Handle handle = nullptr) noexcept
    {
        if (m_handle != nullptr) {
            Free(m_handle);
        }
        m_handle = handle;
    }

private:
    Handle m_handle = nullptr;
};

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

using UniqueWindow = UniqueWin32<HWND, destroyWindow>;
using UniqueFont = UniqueWin32<HFONT, deleteGdiObject>;
using UniqueBitmap = UniqueWin32<HBITMAP, deleteGdiObject>;
using UniqueMemoryDc = UniqueWin32<HDC, deleteDc>;

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
