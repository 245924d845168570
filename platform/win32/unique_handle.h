#pragma once

#include <utility>
#include <windows.h>

namespace kqget {

// Owns a kernel handle (a file, a search) and closes it with `Close`.
template <BOOL(WINAPI* Close)(HANDLE)> class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) noexcept : m_handle(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE))
    {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const noexcept { return m_handle; }
    bool valid() const noexcept { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE release() noexcept { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }
    void reset() noexcept
    {
        if (valid()) {
            Close(m_handle);
        }
        m_handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

using UniqueFileHandle = UniqueHandle<::CloseHandle>;
using UniqueFindHandle = UniqueHandle<::FindClose>;

} // namespace kqget
