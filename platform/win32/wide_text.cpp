#include "platform/win32/wide_text.h"

#include <climits>
#include <new>
#include <windows.h>

namespace kqget {

namespace {

int checkedLength(std::size_t length)
{
    if (length > INT_MAX / 3) {
        throw std::bad_alloc();
    }
    return static_cast<int>(length);
}

} // namespace

// Each converts in one pass into room for the longest outcome: a UTF-8
// sequence never becomes more UTF-16 units than it has bytes, and a UTF-16
// unit never more than three bytes (a surrogate pair: four for two units).
std::wstring toWide(std::string_view utf8)
{
    const int length = checkedLength(utf8.size());
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), length)));
    return wide;
}

std::string toUtf8(std::wstring_view wide)
{
    const int length = checkedLength(wide.size());
    std::string utf8(3 * wide.size(), '\0');
    utf8.resize(static_cast<std::size_t>(::WideCharToMultiByte(
        CP_UTF8, 0, wide.data(), length, utf8.data(), 3 * length, nullptr, nullptr)));
    return utf8;
}

} // namespace kqget
