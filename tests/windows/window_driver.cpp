// Drives kqget.exe through one run as a person would: types the three values
// into their boxes, ticks the box, presses the update button, waits for
// "DONE !" and closes the window.
//
//   kqget-window-driver KQGET.EXE KEY USER DATA
//
// kqget.exe runs in the current folder, on a desktop of its own on the
// display the driver is given. Exits with kqget.exe's exit status; 1 when
// the window never came, the run never ended, or a box was shown instead
// (its text goes to stderr).
#include "app/control_table.h"
#include "app/win32/win32_main_window.h"
#include "app/window_view.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "tests/support/win32/own_desktop.h"
#include "update/card_update_run.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <windows.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kDesktop[] = L"kqget-window-end-to-end";
// Generous: the run repairs a handful of cards through a local service.
constexpr auto kDeadline = 120s;
constexpr auto kPoll = 50ms;
// How long one message may take to be answered by a window that pumps them.
constexpr UINT kReplyMs = 10'000;
// A message box's text is the static control with this id.
constexpr int kMessageBoxTextId = 0xFFFF;

// The id and handles of the started program.
struct Program
{
    kqget::UniqueFileHandle process;
    DWORD processId = 0;
    DWORD threadId = 0;
};

Program startProgram(const std::wstring& path)
{
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<wchar_t*>(kDesktop);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &started)) {
        throw std::runtime_error("cannot start " + kqget::toUtf8(path) + ": error " +
                                 std::to_string(::GetLastError()));
    }
    ::CloseHandle(started.hThread);
    return {kqget::UniqueFileHandle(started.hProcess), started.dwProcessId, started.dwThreadId};
}

HWND control(HWND window, std::string_view name)
{
    return ::GetDlgItem(window, kqget::win32ControlId(name));
}

std::string text(HWND window)
{
    std::wstring wide(1024, L'\0');
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, wide.size(),
                               reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG, kReplyMs,
                               &length)) {
        throw std::runtime_error("the window does not answer");
    }
    wide.resize(length);
    return kqget::toUtf8(wide);
}

// The program's window that holds the update button: the main window.
HWND mainWindowOf(const Program& program)
{
    HWND found = nullptr;
    ::EnumThreadWindows(
        program.threadId,
        [](HWND window, LPARAM result) -> BOOL {
            if (control(window, kqget::controls::kUpdate) == nullptr) {
                return TRUE;
            }
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// A message box the program shows, when there is one.
HWND messageBoxOf(const Program& program)
{
    HWND found = nullptr;
    ::EnumThreadWindows(
        program.threadId,
        [](HWND window, LPARAM result) -> BOOL {
            wchar_t className[16]{};
            ::GetClassNameW(window, className, 16);
            if (std::wstring_view(className) != L"#32770") {
                return TRUE;
            }
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool exited(const Program& program)
{
    return ::WaitForSingleObject(program.process.get(), 0) == WAIT_OBJECT_0;
}

// Over what the box holds, each character as the keyboard gives it to a box
// that has the focus.
void typeOver(HWND box, std::string_view value)
{
    ::SendMessageW(box, EM_SETSEL, 0, -1);
    for (const wchar_t character : kqget::toWide(value)) {
        ::SendMessageW(box, WM_CHAR, character, 1);
    }
}

int drive(const std::wstring& programPath, std::string_view key, std::string_view user,
          std::string_view data)
{
    const kqget::testing::OwnDesktop desktop(kDesktop);
    const Program program = startProgram(programPath);
    const auto deadline = Clock::now() + kDeadline;
    HWND window = nullptr;
    while ((window = mainWindowOf(program)) == nullptr) {
        if (exited(program) || Clock::now() > deadline) {
            std::fputs("window driver: kqget.exe showed no window\n", stderr);
            return 1;
        }
        std::this_thread::sleep_for(kPoll);
    }

    namespace controls = kqget::controls;
    const std::pair<std::string_view, std::string_view> fields[] = {
        {controls::kKey, key}, {controls::kUserName, user}, {controls::kDataFolder, data}};
    for (const auto& [name, value] : fields) {
        typeOver(control(window, name), value);
    }
    ::SendMessageW(control(window, controls::kConfirm), BM_CLICK, 0, 0);
    // Posted: the run goes on inside the click, and the window answers
    // while it waits.
    ::PostMessageW(control(window, controls::kUpdate), BM_CLICK, 0, 0);

    HWND update = control(window, controls::kUpdate);
    while (text(update) != kqget::kDoneText) {
        if (HWND box = messageBoxOf(program)) {
            std::fprintf(stderr, "window driver: kqget.exe showed a box: %s\n",
                         text(::GetDlgItem(box, kMessageBoxTextId)).c_str());
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            ::WaitForSingleObject(program.process.get(), kReplyMs);
            return 1;
        }
        if (exited(program) || Clock::now() > deadline) {
            std::fputs("window driver: the run did not end with \"DONE !\"\n", stderr);
            ::TerminateProcess(program.process.get(), 1);
            return 1;
        }
        std::this_thread::sleep_for(kPoll);
    }

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(program.process.get(), kReplyMs) != WAIT_OBJECT_0) {
        std::fputs("window driver: kqget.exe did not end when closed\n", stderr);
        ::TerminateProcess(program.process.get(), 1);
        return 1;
    }
    DWORD status = 1;
    ::GetExitCodeProcess(program.process.get(), &status);
    return static_cast<int>(status);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) {
        std::fputs("usage: kqget-window-driver KQGET.EXE KEY USER DATA\n", stderr);
        return 64;
    }
    try {
        return drive(argv[1], kqget::toUtf8(argv[2]), kqget::toUtf8(argv[3]),
                     kqget::toUtf8(argv[4]));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "window driver: %s\n", error.what());
        return 1;
    }
}
