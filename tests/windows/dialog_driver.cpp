// Drives an installer's or uninstaller's window as a person would: opens FILE
// as the shell opens what is clicked (a shortcut is followed, a program that
// asks for an administrator is started as one), then presses the window's
// default button (Next, I Agree, Install, Uninstall, Close) once on each page
// it shows, until the window has gone. Every page's texts go to stdout, one
// control a line, for the caller to check.
//
//   kqget-dialog-driver FILE [PARAMETERS]
//
// Runs on a desktop of its own on the display it is given: it starts itself
// there first, so that whatever FILE starts in turn (an uninstaller runs a
// copy of itself) comes there too. Exits 0 once a window came and went; 1
// when none came, a message box came (its text goes to stderr), or the window
// stayed.
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "tests/support/win32/own_desktop.h"
#include "tests/support/win32/window_text.h"

#include <chrono>
#include <cstdio>
#include <objbase.h>
#include <shellapi.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace {

using namespace std::chrono_literals;

constexpr wchar_t kDesktop[] = L"kqget-dialog-driver";
constexpr wchar_t kOnDesktop[] = L"--on-its-desktop";
constexpr auto kDeadline = 120s; // generous: a few files to install or remove
constexpr int kChildRect = 1018; // the page's frame in an installer's window
constexpr int kMessageBoxTextId = 0xFFFF;

bool isDialog(HWND window)
{
    wchar_t name[8]{};
    ::GetClassNameW(window, name, 8);
    return ::IsWindowVisible(window) && std::wstring_view(name) == L"#32770";
}

std::vector<HWND> dialogsOnThisDesktop()
{
    std::vector<HWND> found;
    ::EnumDesktopWindows(
        ::GetThreadDesktop(::GetCurrentThreadId()),
        [](HWND window, LPARAM context) -> BOOL {
            if (isDialog(window)) {
                reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// What the page shows: the texts of every control of the window, in order.
std::string pageTexts(HWND window)
{
    std::vector<HWND> controls;
    ::EnumChildWindows(
        window,
        [](HWND control, LPARAM context) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(control);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&controls));
    std::string texts;
    for (HWND control : controls) {
        if (::IsWindowVisible(control)) {
            std::string text = kqget::testing::windowText(control);
            if (!text.empty()) {
                texts += text + "\n";
            }
        }
    }
    return texts;
}

int drive(const std::wstring& file, const std::wstring& parameters)
{
    // The shell's objects that open a file want a single-threaded apartment.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        throw std::runtime_error("cannot initialise COM for the shell");
    }
    SHELLEXECUTEINFOW open{};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    open.lpFile = file.c_str();
    open.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    open.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&open)) {
        throw std::runtime_error("cannot open " + kqget::toUtf8(file) + ": error " +
                                 std::to_string(::GetLastError()));
    }
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    HWND window = nullptr;
    std::string pressedOn; // the page the button was last pressed on
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        for (HWND dialog : dialogsOnThisDesktop()) {
            if (::GetDlgItem(dialog, kMessageBoxTextId) != nullptr) {
                std::fprintf(
                    stderr, "dialog driver: a box came: %s\n",
                    kqget::testing::windowText(::GetDlgItem(dialog, kMessageBoxTextId)).c_str());
                return 1;
            }
            if (window == nullptr && ::GetDlgItem(dialog, kChildRect) != nullptr) {
                window = dialog;
            }
        }
        if (window == nullptr) {
            continue;
        }
        if (!::IsWindow(window)) {
            return 0; // closed by the last press
        }
        // Once a page is whole and its button can be pressed: a page being
        // worked through (the files going in or out) keeps its button off.
        const HWND next = ::GetDlgItem(window, IDOK);
        std::string page;
        try {
            page = pageTexts(window);
        } catch (const std::runtime_error&) {
            if (!::IsWindow(window)) {
                return 0; // closed by the last press
            }
            // A control went as it was read: the last press is replacing the
            // page. A window that does not answer at all stays to the deadline.
            continue;
        }
        if (next == nullptr || !::IsWindowEnabled(next) || page == pressedOn) {
            continue;
        }
        std::fputs(page.c_str(), stdout);
        std::fputs("----\n", stdout);
        std::fflush(stdout);
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(next));
        pressedOn = page;
    }
    throw std::runtime_error(window == nullptr ? "no window came"
                                               : "the window stayed: " + pageTexts(window));
}

// Starts this program again on a desktop of its own, with this one's
// standard handles, and waits for it.
int onItsDesktop(const std::wstring& arguments)
{
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    const kqget::testing::OwnDesktop desktop(kDesktop);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<wchar_t*>(kDesktop);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE standard : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        ::SetHandleInformation(standard, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION started{};
    std::wstring commandLine = L"\"" + self + L"\" " + kOnDesktop + L" " + arguments;
    if (!::CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          nullptr, &startup, &started)) {
        throw std::runtime_error("cannot start the driver on its desktop: error " +
                                 std::to_string(::GetLastError()));
    }
    const kqget::UniqueFileHandle process(started.hProcess);
    const kqget::UniqueFileHandle thread(started.hThread);
    DWORD status = 1;
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &status);
    return static_cast<int>(status);
}

// The command line's arguments as given, quotes included, past the first
// `skip` words.
std::wstring argumentsPast(int skip)
{
    std::wstring line = ::GetCommandLineW();
    std::size_t at = 0;
    for (int word = 0; word < skip && at < line.size(); ++word) {
        bool quoted = false;
        while (at < line.size() && (quoted || line[at] != L' ')) {
            quoted ^= line[at++] == L'"';
        }
        at = line.find_first_not_of(L' ', at);
    }
    return at == std::wstring::npos ? L"" : line.substr(at);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        if (argc >= 3 && std::wstring_view(argv[1]) == kOnDesktop) {
            return drive(argv[2], argumentsPast(3));
        }
        if (argc >= 2) {
            return onItsDesktop(argumentsPast(1));
        }
        std::fputs("usage: kqget-dialog-driver FILE [PARAMETERS]\n", stderr);
        return 64;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "dialog driver: %s\n", error.what());
        return 1;
    }
}
