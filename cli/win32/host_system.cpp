#include "cli/host_system.h"

#include "platform/win32/wide_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <io.h>
#include <memory>
#include <optional>
// shellapi.h needs the types of windows.h.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

namespace kqget {

namespace {

struct LocalFreer
{
    void operator()(wchar_t** arguments) const noexcept { ::LocalFree(arguments); }
};

// Old consoles take a limited amount of text per write.
constexpr std::size_t kConsoleChunk = 8192;

HANDLE handleOf(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

// The console's mode, or nothing when `handle` is no console.
std::optional<DWORD> consoleMode(HANDLE handle)
{
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) {
        return std::nullopt;
    }
    return mode;
}

} // namespace

std::vector<std::string> commandArguments(int /*argc*/, char** /*argv*/)
{
    // From the UTF-16 command line, so that no argument depends on a code page.
    int count = 0;
    const std::unique_ptr<wchar_t*, LocalFreer> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i) {
        arguments.push_back(toUtf8(wide.get()[i]));
    }
    // The progress line erases with an escape sequence where the console
    // can be told to act on it; a console that refuses is left as it is.
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (const auto mode = consoleMode(error)) {
        ::SetConsoleMode(error, *mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    return arguments;
}

bool isTerminal(std::FILE* stream)
{
    return consoleMode(handleOf(stream)).has_value();
}

bool writeText(std::FILE* stream, std::string_view text)
{
    // Bytes sent to a console are read in its code page, which is seldom
    // UTF-8; its own characters, UTF-16, always show as meant.
    const HANDLE console = handleOf(stream);
    if (!consoleMode(console)) {
        return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    }
    if (std::fflush(stream) != 0) {
        return false;
    }
    const std::wstring wide = toWide(text);
    std::wstring_view rest = wide;
    while (!rest.empty()) {
        std::size_t chunk = std::min(rest.size(), kConsoleChunk);
        if (chunk < rest.size() && IS_HIGH_SURROGATE(rest[chunk - 1])) {
            --chunk; // a surrogate pair goes out whole
        }
        DWORD written = 0;
        if (!::WriteConsoleW(console, rest.data(), static_cast<DWORD>(chunk), &written, nullptr) ||
            written == 0) {
            errno = EIO;
            return false;
        }
        rest.remove_prefix(written);
    }
    return true;
}

bool erasesWithEscapes(std::FILE* stream)
{
    // Set only where the console accepted it (Windows 10 and later).
    const auto mode = consoleMode(handleOf(stream));
    return mode && (*mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t terminalColumns(std::FILE* stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handleOf(stream), &info)) {
        return 0;
    }
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

std::FILE* openForReading(const std::string& path)
{
    return ::_wfopen(toWide(path).c_str(), L"rb");
}

std::optional<std::string> environmentValue(const char* name)
{
    const wchar_t* value = ::_wgetenv(toWide(name).c_str());
    return value == nullptr ? std::nullopt : std::optional<std::string>(toUtf8(value));
}

} // namespace kqget
