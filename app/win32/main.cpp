#include "app/command_line.h"
#include "app/win32/gdiplus_session.h"
#include "app/win32/win32_main_window.h"
#include "app/win32/win32_message_boxes.h"
#include "app/win32/win32_screenshot.h"
#include "platform/native_ports.h"
#include "platform/service_settings.h"
#include "platform/win32/wide_text.h"
#include "update/exit_status.h"

#include <commctrl.h>
#include <exception>
#include <shellapi.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

// Not a run's outcome: the window never opened.
constexpr int kNoWindowExitStatus = 1;

std::vector<std::string> commandArguments()
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int index = 1; wide != nullptr && index < count; ++index) {
        arguments.push_back(kqget::toUtf8(wide[index]));
    }
    ::LocalFree(wide);
    return arguments;
}

// A window program has no console of its own: the text goes where its output
// was sent (a pipe or a file), else to the console it was started from, else
// into a message box.
void tellUser(const std::string& text, bool isError)
{
    const DWORD stream = isError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    DWORD written = 0;
    if (HANDLE output = ::GetStdHandle(stream);
        output != nullptr && output != INVALID_HANDLE_VALUE &&
        ::WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        const std::wstring wide = kqget::toWide(text);
        ::WriteConsoleW(::GetStdHandle(stream), wide.data(), static_cast<DWORD>(wide.size()),
                        &written, nullptr);
        ::FreeConsole();
        return;
    }
    ::MessageBoxW(nullptr, kqget::toWide(text).c_str(), L"kqget",
                  MB_OK | (isError ? MB_ICONERROR : MB_ICONINFORMATION));
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    using kqget::WindowCommand;
    const std::vector<std::string> arguments = commandArguments();
    const WindowCommand command = kqget::parseWindowCommand(
        std::vector<std::string_view>(arguments.begin(), arguments.end()));
    const kqget::ServiceSettings settings =
        kqget::resolveServiceSettings(std::nullopt, std::nullopt, false, [](const char* name) {
            const wchar_t* value = ::_wgetenv(kqget::toWide(name).c_str());
            return value == nullptr ? std::nullopt
                                    : std::optional<std::string>(kqget::toUtf8(value));
        });
    switch (command.action) {
    case WindowCommand::Action::Version:
        tellUser(settings.versionText(), false);
        return 0;
    case WindowCommand::Action::Help:
        tellUser(kqget::windowUsageText(), false);
        return 0;
    case WindowCommand::Action::Usage:
        tellUser("kqget: " + command.problem + "\n\n" + kqget::windowUsageText(), true);
        return kqget::exitCode(kqget::ExitStatus::Usage);
    case WindowCommand::Action::OpenWindow:
    case WindowCommand::Action::Screenshot:
        break;
    }
    if (!settings.problem.empty()) {
        tellUser("kqget: " + settings.problem + "\n", true);
        return kqget::exitCode(kqget::ExitStatus::Usage);
    }
    const kqget::ServiceBases& bases = settings.bases;

    try {
        const INITCOMMONCONTROLSEX commonControls{sizeof(INITCOMMONCONTROLSEX),
                                                  ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&commonControls);
        const kqget::GdiplusSession gdiplus;
        kqget::SystemMessageBoxes messageBoxes;
        const auto fileSystem = kqget::makeNativeFileSystem();
        kqget::Win32MainWindow window(
            instance, messageBoxes, *fileSystem,
            [&bases] {
                kqget::TransferOptions options;
                options.bases = bases;
                return kqget::makeNativeTransfer(std::move(options));
            },
            std::string(kqget::kRunLogFileName), bases.hosts());
        window.show(showCommand);
        if (command.action == WindowCommand::Action::Screenshot) {
            window.processPendingEvents();
            kqget::saveClientAreaPng(window.handle(), command.screenshotPath);
            return 0;
        }
        return window.run();
    } catch (const std::exception& error) {
        tellUser(std::string("kqget: ") + error.what() + "\n", true);
        return kNoWindowExitStatus;
    }
}
