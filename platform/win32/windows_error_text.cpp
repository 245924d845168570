#include "platform/win32/windows_error_text.h"

#include "platform/win32/wide_text.h"

#include <memory>
#include <string_view>
#include <windows.h>

namespace kqget {

namespace {

constexpr unsigned long kFirstWinHttpError = 12000;
constexpr unsigned long kLastWinHttpError = 12999;

struct LocalFreer
{
    void operator()(wchar_t* text) const noexcept { ::LocalFree(text); }
};

std::wstring systemMessage(unsigned long error)
{
    DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE source = nullptr;
    if (error >= kFirstWinHttpError && error <= kLastWinHttpError) {
        source = ::GetModuleHandleW(L"winhttp.dll");
        if (source != nullptr) {
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
        }
    }
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(flags, source, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreer> owned(buffer);
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    std::wstring text(buffer, length);
    // The texts end in a line break, which a one-line message must not carry.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return text;
}

} // namespace

std::string windowsErrorText(unsigned long error)
{
    const std::string code = "(error " + std::to_string(error) + ")";
    const std::wstring message = systemMessage(error);
    return message.empty() ? "unknown system error " + code : toUtf8(message) + " " + code;
}

} // namespace kqget
