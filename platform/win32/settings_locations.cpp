#include "platform/settings_locations.h"

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"

// knownfolders.h and shlobj.h need the types of windows.h.
// clang-format off
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

namespace kqget {

namespace {

// A settings file holds two lines; anything much larger is no settings file.
constexpr DWORD kMaxSettingsBytes = 64 * 1024;

// The settings file in the known folder `id`, or empty when the system
// cannot name that folder.
std::string settingsFileIn(REFKNOWNFOLDERID id)
{
    PWSTR folder = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &folder);
    std::string path;
    if (SUCCEEDED(result)) {
        path = toUtf8(folder) + "\\kqget\\kqget.ini";
    }
    ::CoTaskMemFree(folder); // also when the call failed, as documented
    return path;
}

} // namespace

SettingsLocations settingsLocations()
{
    return {settingsFileIn(FOLDERID_RoamingAppData), settingsFileIn(FOLDERID_ProgramData)};
}

SettingsText readSettingsText(const std::string& path)
{
    const UniqueFileHandle file(::CreateFileW(
        toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const auto failed = [&path](DWORD error) {
        return SettingsText{
            false, {}, "cannot read settings file '" + path + "': " + windowsErrorText(error)};
    };
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {};
        }
        return failed(error);
    }
    SettingsText read{true, {}, {}};
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            return failed(::GetLastError());
        }
        if (got == 0) {
            return read;
        }
        read.text.append(buffer, got);
        if (read.text.size() > kMaxSettingsBytes) {
            return {false,
                    {},
                    "settings file '" + path + "' is longer than " +
                        std::to_string(kMaxSettingsBytes) + " bytes: not a settings file"};
        }
    }
}

} // namespace kqget
