#include "cli/host_system.h"

#include "platform/win32/wide_text.h"

#include <cstdlib>
#include <io.h>
#include <memory>
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

// Lets the progress line redraw itself with the same sequences as on a POSIX
// terminal; a console that cannot is left as it is.
void enableLineRedrawing(DWORD handleId)
{
    const HANDLE console = ::GetStdHandle(handleId);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && ::GetConsoleMode(console, &mode)) {
        ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

UINT g_consoleOutputCodePage = 0;

// The console belongs to the shell that started the program too: its code
// page goes back as it was.
void restoreConsoleOutputCodePage()
{
    ::SetConsoleOutputCP(g_consoleOutputCodePage);
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
    g_consoleOutputCodePage = ::GetConsoleOutputCP();
    if (g_consoleOutputCodePage != 0 && g_consoleOutputCodePage != CP_UTF8 &&
        ::SetConsoleOutputCP(CP_UTF8)) {
        std::atexit(restoreConsoleOutputCodePage);
    }
    enableLineRedrawing(STD_ERROR_HANDLE);
    return arguments;
}

bool isTerminal(std::FILE* stream)
{
    DWORD mode = 0;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

std::size_t terminalColumns(std::FILE* stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (!::GetConsoleScreenBufferInfo(handle, &info)) {
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
