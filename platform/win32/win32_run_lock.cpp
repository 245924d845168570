#include "platform/run_lock.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

#include <cwchar>
#include <filesystem>

namespace kqget {

namespace {

// A named mutex per folder, in the namespace every session shares so that a
// run in another session counts too; the system removes it with its last
// handle, when the process ends however it ends.
class MutexFolderLock final : public FolderLock
{
public:
    using FolderLock::FolderLock;
    bool take() override
    {
        m_mutex = UniqueFileHandle(::CreateMutexW(nullptr, FALSE, toWide(identity).c_str()));
        const DWORD error = ::GetLastError();
        // ERROR_ACCESS_DENIED: another user's run made it, with a security
        // that keeps others out. Any other failure leaves no named object to
        // be had.
        return m_mutex ? error != ERROR_ALREADY_EXISTS : error != ERROR_ACCESS_DENIED;
    }

private:
    UniqueFileHandle m_mutex;
};

} // namespace

std::string folderOfLog(std::string_view logPath)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(toWide(logPath), error);
    return error ? std::string(".") : toUtf8(absolute.parent_path().native());
}

std::unique_ptr<FolderLock> openFolderLock(const std::string& folder)
{
    const UniqueFileHandle handle(
        ::CreateFileW(toWide(folder).c_str(), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !::GetFileInformationByHandle(handle.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return nullptr;
    }
    // Named after the folder's volume and file index, so that a second name
    // for it (a short name, a mapped drive) finds the same mutex.
    wchar_t name[64];
    std::swprintf(name, std::size(name), L"Global\\kqget-run-%08lx-%08lx%08lx",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    return std::make_unique<MutexFolderLock>(toUtf8(name));
}

} // namespace kqget
