#include "platform/win32/win32_run_lock.h"

#include "platform/run_under_way.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace kqget {

namespace {

class Win32RunLock final : public RunLock
{
public:
    std::vector<UniqueFileHandle> held;
    std::vector<std::wstring> names;
};

std::wstring fullPath(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) {
        return path;
    }
    full.resize(length);
    return full;
}

std::string folderOfLog(std::string_view logPath)
{
    const std::wstring full = fullPath(toWide(logPath));
    auto separator = full.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return ".";
    }
    // A drive's root keeps its separator: "C:" alone is the drive's current folder.
    if (separator > 0 && full[separator - 1] == L':') {
        ++separator;
    }
    return toUtf8(full.substr(0, separator));
}

// The mutex's name for a folder, in the namespace every session shares, so
// that a run in another session counts too.
std::optional<std::wstring> mutexName(const std::string& folder)
{
    const UniqueFileHandle handle(
        ::CreateFileW(toWide(folder).c_str(), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !::GetFileInformationByHandle(handle.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::nullopt;
    }
    wchar_t name[64];
    std::swprintf(name, std::size(name), L"Global\\kqget-run-%08lx-%08lx%08lx",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    return name;
}

} // namespace

std::unique_ptr<RunLock> lockRunFolders(std::string_view logPath, std::string_view dataFolder)
{
    auto lock = std::make_unique<Win32RunLock>();
    const struct
    {
        std::string folder;
        bool isDataFolder;
    } claims[] = {{std::string(dataFolder), true}, {folderOfLog(logPath), false}};
    for (const auto& claim : claims) {
        const std::optional<std::wstring> name = mutexName(claim.folder);
        if (!name || std::ranges::find(lock->names, *name) != lock->names.end()) {
            continue;
        }
        UniqueFileHandle mutex(::CreateMutexW(nullptr, FALSE, name->c_str()));
        const DWORD error = ::GetLastError();
        // Another user's run made it, with a security that keeps others out.
        if ((!mutex && error == ERROR_ACCESS_DENIED) || (mutex && error == ERROR_ALREADY_EXISTS)) {
            throw runUnderWay(claim.folder, claim.isDataFolder);
        }
        if (!mutex) {
            continue; // no named object to be had: the run goes unguarded
        }
        lock->names.push_back(*name);
        lock->held.push_back(std::move(mutex));
    }
    return lock;
}

} // namespace kqget
