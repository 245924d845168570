// Drives kqget.exe through one run as a person would: types the three values
// over what their boxes hold, ticks the box, presses the update button, waits
// for "DONE !" and closes the window. With a TEXT, closes the window during
// the run instead, once the run's log holds TEXT, and waits for kqget.exe to
// end on its own.
//
//   kqget-window-driver KQGET.EXE KEY USER DATA [TEXT]
//
// kqget.exe runs in the current folder, on a desktop of its own on the
// display the driver is given. Exits with kqget.exe's exit status; 1 when the
// window never came, a box came instead of "DONE !" (its text goes to
// stderr), or the run or the program never ended.
#include "app/win32/win32_main_window.h"
#include "app/window_texts.h"
#include "app/window_view.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "tests/support/win32/own_desktop.h"
#include "tests/support/win32/window_text.h"
#include "update/run_log.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <windows.h>

namespace {

using namespace std::chrono_literals;
using kqget::Control;

constexpr wchar_t kDesktop[] = L"kqget-window-end-to-end";
constexpr auto kDeadline = 120s;  // generous: a handful of cards through a local service
constexpr UINT kReplyMs = 10'000; // for one message to a window that pumps them
// For kqget.exe to end once closed during a run: Wine lets go of a held
// request only when its pending receive times out (the 60 s stall limit).
constexpr DWORD kEndDuringRunMs = 120'000;
constexpr int kMessageBoxTextId = 0xFFFF;

HWND control(HWND window, Control control)
{
    return ::GetDlgItem(window, kqget::win32ControlId(control));
}

std::string text(HWND window)
{
    return kqget::testing::windowText(window, kReplyMs);
}

// The first window of the thread that `wanted` accepts.
template <typename Wanted> HWND windowOf(DWORD thread, Wanted wanted)
{
    std::pair<Wanted*, HWND> search{&wanted, nullptr};
    ::EnumThreadWindows(
        thread,
        [](HWND window, LPARAM context) -> BOOL {
            auto& [accepts, found] = *reinterpret_cast<std::pair<Wanted*, HWND>*>(context);
            found = (*accepts)(window) ? window : nullptr;
            return found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
}

bool isMessageBox(HWND window)
{
    wchar_t name[8]{};
    ::GetClassNameW(window, name, 8);
    return std::wstring_view(name) == L"#32770";
}

bool logHolds(std::string_view text)
{
    std::ifstream log{std::string(kqget::kRunLogFileName), std::ios::binary};
    const std::string held{std::istreambuf_iterator<char>(log), {}};
    return held.find(text) != std::string::npos;
}

// Closes kqget.exe's window and gives its exit status once it has ended.
int closeAndWait(HWND window, HANDLE process, DWORD waitMs, std::string_view when)
{
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD status = 1;
    if (::WaitForSingleObject(process, waitMs) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process, &status)) {
        throw std::runtime_error("kqget.exe did not end when its window was closed" +
                                 std::string(when));
    }
    return static_cast<int>(status);
}

int drive(std::wstring program, std::string_view key, std::string_view user, std::string_view data,
          std::optional<std::string_view> closeWhenLogged)
{
    const kqget::testing::OwnDesktop desktop(kDesktop);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<wchar_t*>(kDesktop);
    PROCESS_INFORMATION started{};
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &started)) {
        throw std::runtime_error("cannot start kqget.exe: error " +
                                 std::to_string(::GetLastError()));
    }
    const kqget::UniqueFileHandle process(started.hProcess);
    const kqget::UniqueFileHandle thread(started.hThread);
    // However the driver ends, kqget.exe ends with it.
    const auto end = [](HANDLE running) { ::TerminateProcess(running, 1); };
    const std::unique_ptr<void, decltype(end)> endsWithDriver(process.get(), end);
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    // Whether to go on waiting: the program still runs, and the time is not up.
    const auto waiting = [&] {
        std::this_thread::sleep_for(50ms);
        return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT &&
               std::chrono::steady_clock::now() < deadline;
    };

    // Shown once it is whole: before that, the values it loads at its start
    // would write over what is typed.
    HWND window = nullptr;
    while ((window = windowOf(started.dwThreadId, [](HWND at) {
                return ::IsWindowVisible(at) && control(at, Control::Update) != nullptr;
            })) == nullptr) {
        if (!waiting()) {
            throw std::runtime_error("kqget.exe showed no window");
        }
    }
    const std::pair<Control, std::string_view> fields[] = {
        {Control::Key, key}, {Control::UserName, user}, {Control::DataFolder, data}};
    for (const auto& [name, value] : fields) {
        // What the keyboard gives a box with the focus, over all it holds.
        ::SendMessageW(control(window, name), EM_SETSEL, 0, -1);
        for (const wchar_t character : kqget::toWide(value)) {
            ::SendMessageW(control(window, name), WM_CHAR, character, 1);
        }
    }
    // A click goes through the button's press and release, with the mouse
    // captured between the two: the box is clicked until it shows the tick.
    const HWND confirm = control(window, Control::Confirm);
    for (int click = 0; click < 5 && ::SendMessageW(confirm, BM_GETCHECK, 0, 0) != BST_CHECKED;
         ++click) {
        ::SendMessageW(confirm, BM_CLICK, 0, 0);
    }
    // The button's click itself, as the window hears of it, posted: the run
    // goes on inside it, the window answering meanwhile.
    const HWND update = control(window, Control::Update);
    ::PostMessageW(window, WM_COMMAND,
                   MAKEWPARAM(kqget::win32ControlId(Control::Update), BN_CLICKED),
                   reinterpret_cast<LPARAM>(update));

    if (closeWhenLogged) {
        while (!logHolds(*closeWhenLogged)) {
            if (!waiting()) {
                throw std::runtime_error("the run's log never held the text to close at");
            }
        }
        return closeAndWait(window, process.get(), kEndDuringRunMs, " in a run");
    }
    while (text(control(window, Control::Update)) != kqget::kDoneText) {
        if (HWND box = windowOf(started.dwThreadId, isMessageBox)) {
            std::fprintf(stderr, "window driver: kqget.exe showed a box: %s\n",
                         text(::GetDlgItem(box, kMessageBoxTextId)).c_str());
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            return 1;
        }
        if (!waiting()) {
            DWORD status = 0;
            if (::GetExitCodeProcess(process.get(), &status) && status != STILL_ACTIVE) {
                throw std::runtime_error("kqget.exe ended during the run, status " +
                                         std::to_string(status));
            }
            throw std::runtime_error(
                "the run did not end with \"DONE !\": the update button says \"" +
                text(control(window, Control::Update)) + "\", the status line \"" +
                text(control(window, Control::Status)) + "\"");
        }
    }
    return closeAndWait(window, process.get(), kReplyMs, "");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5 && argc != 6) {
        std::fputs("usage: kqget-window-driver KQGET.EXE KEY USER DATA [TEXT]\n", stderr);
        return 64;
    }
    try {
        const std::string closeText = argc == 6 ? kqget::toUtf8(argv[5]) : std::string();
        return drive(argv[1], kqget::toUtf8(argv[2]), kqget::toUtf8(argv[3]),
                     kqget::toUtf8(argv[4]),
                     argc == 6 ? std::optional<std::string_view>(closeText) : std::nullopt);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "window driver: %s\n", error.what());
        return 1;
    }
}
