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

#include <cstdio>
#include <io.h>
#include <memory>
#include <optional>
#include <vector>

namespace kqget {

namespace {

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

std::FILE* openSettingsFile(const std::string& path, std::string& refusal)
{
    std::FILE* file = ::_wfopen(toWide(path).c_str(), L"rb");
    if (file == nullptr) {
        return nullptr;
    }
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    if (auto foreign = foreignOwner(handle, path)) {
        std::fclose(file);
        refusal = std::move(*foreign);
        return nullptr;
    }
    return file;
}

} // namespace kqget
