#pragma once

#include <objbase.h>

namespace kqget {

// A COM interface pointer, released at the end of its scope.
template <typename T> class ComPtr
{
public:
    ComPtr() = default;
    ~ComPtr()
    {
        if (m_pointer != nullptr) {
            m_pointer->Release();
        }
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** out() noexcept { return &m_pointer; }
    T* operator->() const noexcept { return m_pointer; }
    T* get() const noexcept { return m_pointer; }

private:
    T* m_pointer = nullptr;
};

// COM on the calling thread for as long as it lives; the checks run on the
// run's own threads, which may not have it yet.
class ComScope
{
public:
    ComScope() : m_result(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(m_result)) {
            ::CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT m_result;
};

} // namespace kqget
