#pragma once

#include <algorithm>
#include <climits>
#include <string_view>
#include <utility>
#include <windows.h>

namespace kqget {

// Owns one Win32 handle (a file, a search, a window, a GDI object) and frees
// it with `Free` when it goes. Both null and INVALID_HANDLE_VALUE mean none:
// the API returns one or the other on failure, depending on the call.
template <typename Handle, auto Free> class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) noexcept : m_handle(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        reset(other.release()); // safe on itself: the handle is let go before it is freed
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept
    {
        return m_handle != nullptr && reinterpret_cast<const void*>(m_handle) !=
                                          static_cast<const void*>(INVALID_HANDLE_VALUE);
    }
    Handle release() noexcept { return std::exchange(m_handle, nullptr); }
    void reset(Handle handle = nullptr) noexcept
    {
        if (*this) {
            Free(m_handle);
        }
        m_handle = handle;
    }

private:
    Handle m_handle = nullptr;
};

using UniqueFileHandle = UniqueHandle<HANDLE, ::CloseHandle>;
using UniqueFindHandle = UniqueHandle<HANDLE, ::FindClose>;

// Writes every byte, going on after a short write; one WriteFile takes at most
// a DWORD's worth. Returns 0, or GetLastError() of the write that failed.
inline DWORD writeAll(const UniqueFileHandle& file, std::string_view bytes) noexcept
{
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), INT_MAX));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr)) {
            return ::GetLastError();
        }
        bytes.remove_prefix(written);
    }
    return 0;
}

} // namespace kqget
