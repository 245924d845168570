#include "platform/service_settings.h"
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
    union {
        TOKEN_USER user;
        unsigned char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } token{};
    DWORD size = 0;
    return ::GetTokenInformation(::GetCurrentProcessToken(), TokenUser, &token, sizeof token,
                                 &size) &&
           ::EqualSid(owner, token.user.User.Sid);
}

// Why the open `file` is not to be read, or empty when it is: any user may make a folder under
// %ProgramData%, and a file there that another user wrote would send this
// user's key wherever it says. Only a file that belongs to this user, to the
// administrators or to the system is taken.
std::string foreignOwner(HANDLE file, const std::string& path)
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
        return {};
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

SettingsLocations settingsLocations(const EnvironmentLookup& /*environment*/)
{
    return {settingsFileIn(FOLDERID_RoamingAppData), settingsFileIn(FOLDERID_ProgramData)};
}

std::FILE* openSettingsFile(const std::string& path, std::string& refusal)
{
    std::FILE* file = ::_wfopen(toWide(path).c_str(), L"rb");
    if (file != nullptr) {
        refusal = foreignOwner(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file))), path);
    }
    if (!refusal.empty()) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

} // namespace kqget
