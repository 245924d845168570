#include "platform/settings_locations.h"

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"

// knownfolders.h and shlobj.h need the types of windows.h.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>
// clang-format on

#include <memory>
#include <optional>
#include <vector>

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

// Whether `owner` is the user kqget runs as.
bool isThisUser(PSID owner)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    const UniqueHandle<HANDLE, ::CloseHandle> held(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return false;
    }
    return ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) != 0;
}

// Why the open `file` is not to be read: any user may make a folder under
// %ProgramData%, and a file there that another user wrote would send this
// user's key wherever it says. Only a file that belongs to this user, to the
// administrators or to the system is taken.
std::optional<std::string> foreignOwner(HANDLE file, const std::string& path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                          nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        return "cannot read settings file '" + path + "': " + windowsErrorText(error);
    }
    const std::unique_ptr<void, decltype(&::LocalFree)> held(descriptor, &::LocalFree);
    if (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
        ::IsWellKnownSid(owner, WinLocalSystemSid) || isThisUser(owner)) {
        return std::nullopt;
    }
    std::string name = "another user";
    LPWSTR text = nullptr;
    if (::ConvertSidToStringSidW(owner, &text)) {
        name += " (" + toUtf8(text) + ")";
        ::LocalFree(text);
    }
    return "settings file '" + path + "' belongs to " + name +
           ", neither this user nor an administrator: not read";
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
    if (auto foreign = foreignOwner(file.get(), path)) {
        return {false, {}, std::move(*foreign)};
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
