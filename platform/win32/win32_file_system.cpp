#include "platform/buffered_log.h"
#include "platform/card_name_matcher.h"
#include "platform/native_ports.h"
#include "platform/run_lock.h"
#include "platform/temporary_name.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_staged_file.h"
#include "platform/win32/windows_error_text.h"
#include "update/run_error.h"

#include <algorithm>

namespace kqget {

namespace {

// Codes that mean "nothing there" rather than "cannot look".
bool isAbsent(unsigned long error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME || error == ERROR_DIRECTORY || error == ERROR_BAD_NETPATH ||
           error == ERROR_FILENAME_EXCED_RANGE;
}

// Deletes the plain files of the temporary form in `folder` (ending in a
// separator); never a link, a junction or a folder. A failure only leaves a
// leftover for the next run.
void removeLeftovers(const std::string& folder)
{
    const std::wstring wideFolder = toWide(folder);
    WIN32_FIND_DATAW found{};
    UniqueFindHandle search(::FindFirstFileExW((wideFolder + L".kqget-*").c_str(), FindExInfoBasic,
                                               &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) {
        return;
    }
    do {
        // The pattern's wildcards also match 8.3 names: the whole name decides.
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                0 &&
            isTemporaryName(toUtf8(found.cFileName))) {
            ::DeleteFileW((wideFolder + found.cFileName).c_str());
        }
    } while (::FindNextFileW(search.get(), &found));
}

// The run's file system on Windows, over the wide API: paths are UTF-8 inside
// and UTF-16 at the system, so no card name is lost to a code page.
class Win32FileSystem final : public FileSystemPort
{
public:
    CardEntries searchCardEntries(std::string_view dataFolder, char letter) override;
    bool isDirectory(std::string_view path) override;
    FileStamp fileStamp(std::string_view path) noexcept override;
    std::unique_ptr<StagedFile> stageFile(std::string_view path) override
    {
        return stageWin32File(path);
    }
    std::unique_ptr<LogFile> createLog(std::string_view path) override { return openRunLog(path); }
    std::unique_ptr<RunLock> lockRun(std::string_view logPath, std::string_view dataFolder) override
    {
        std::unique_ptr<RunLock> lock = lockRunFolders(logPath, dataFolder);
        m_lockedFolder = dataFolder;
        return lock;
    }
    char separatorFor(std::string_view) const noexcept override { return '\\'; }

private:
    // The data folder of the run under way, whose search of A sweeps.
    std::string m_lockedFolder;
};

CardEntries Win32FileSystem::searchCardEntries(std::string_view dataFolder, char letter)
{
    const std::string folder(dataFolder);
    // What a killed run left goes as the run begins, which searches A first.
    if (letter == 'A' && folder == m_lockedFolder) {
        removeLeftovers(folder);
    }
    // The letter and '*' only: the system's wildcards also match periods and
    // 8.3 short names, so the card-name rule below decides, never the pattern.
    const std::wstring pattern = toWide(folder + letter + "*");
    WIN32_FIND_DATAW found{};
    UniqueFindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr,
                                               FIND_FIRST_EX_LARGE_FETCH));
    CardEntries names;
    if (!search) {
        const unsigned long error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return names; // the folder is there, with no name under this letter
        }
        throw RunError(ErrorNumber::DataFolder,
                       "cannot search data folder '" + folder + "': " + windowsErrorText(error));
    }
    // In the order the file system lists them, as the client's own search sees them.
    do {
        const std::string name = toUtf8(found.cFileName);
        if (isCardName(name, letter)) {
            // The attributes a folder test would ask for, a link's own as
            // there: the entry carries them.
            names.add(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                ? EntryType::Folder
                                : EntryType::Other);
        }
    } while (::FindNextFileW(search.get(), &found));
    if (const unsigned long error = ::GetLastError(); error != ERROR_NO_MORE_FILES) {
        throw RunError(ErrorNumber::DataFolder,
                       "cannot read data folder '" + folder + "': " + windowsErrorText(error));
    }
    names.finish();
    return names;
}

bool Win32FileSystem::isDirectory(std::string_view path)
{
    const std::string target(path);
    const DWORD attributes = ::GetFileAttributesW(toWide(target).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    const unsigned long error = ::GetLastError();
    if (isAbsent(error)) {
        return false;
    }
    throw RunError(ErrorNumber::CardFolder,
                   "cannot examine '" + target + "': " + windowsErrorText(error));
}

FileStamp Win32FileSystem::fileStamp(std::string_view path) noexcept
{
    try {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return {};
        }
        return {(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

} // namespace

std::unique_ptr<FileSystemPort> makeNativeFileSystem()
{
    return std::make_unique<Win32FileSystem>();
}

} // namespace kqget
