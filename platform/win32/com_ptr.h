#pragma once

#include <objbase.h>
#include <wrl/client.h>

namespace kqget {

// A COM interface pointer, released at the end of its scope; out() is where a
// call puts a new one.
template <typename T> class ComPtr : public Microsoft::WRL::ComPtr<T>
{
public:
    T** out() noexcept { return this->ReleaseAndGetAddressOf(); }
    T* get() const noexcept { return this->Get(); }
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
