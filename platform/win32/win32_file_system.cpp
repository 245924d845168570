#include "platform/win32/win32_file_system.h"

#include "platform/card_name_matcher.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_log_file.h"
#include "platform/win32/windows_error_text.h"
#include "update/run_error.h"

#include <algorithm>
#include <atomic>
#include <climits>

namespace kqget {

namespace {

// Codes that mean "nothing there" rather than "cannot look".
bool isAbsent(unsigned long error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME || error == ERROR_DIRECTORY || error == ERROR_BAD_NETPATH ||
           error == ERROR_FILENAME_EXCED_RANGE;
}

[[noreturn]] void failStore(std::string_view path, std::string_view what, unsigned long error)
{
    throw RunError(ErrorNumber::CardFile, "cannot store '" + std::string(path) + "': " +
                                              std::string(what) + ": " + windowsErrorText(error));
}

// "<name>.kqget-<process>-<n>.tmp" beside the target: the same folder, so the
// move is a rename on the same volume.
std::wstring temporaryName(const std::wstring& target)
{
    static std::atomic<unsigned long> counter{0};
    return target + L".kqget-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter) + L".tmp";
}

std::string narrow(const std::wstring& path)
{
    return toUtf8(path);
}

// A temporary file beside the card file, deleted unless moved into place.
class Win32StagedFile final : public StagedFile
{
public:
    explicit Win32StagedFile(std::string_view target)
        : m_target(target), m_wideTarget(toWide(target)), m_temporary(temporaryName(m_wideTarget))
    {
        m_file.reset(::CreateFileW(m_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_file.valid()) {
            const unsigned long error = ::GetLastError();
            m_temporary.clear(); // nothing was created
            failStore(m_target, "cannot create a temporary file beside it", error);
        }
    }
    ~Win32StagedFile() override
    {
        m_file.reset();
        if (!m_temporary.empty()) {
            ::DeleteFileW(m_temporary.c_str());
        }
    }
    Win32StagedFile(const Win32StagedFile&) = delete;
    Win32StagedFile& operator=(const Win32StagedFile&) = delete;

    void write(std::string_view bytes) override
    {
        while (!bytes.empty()) {
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), INT_MAX));
            DWORD written = 0;
            if (!::WriteFile(m_file.get(), bytes.data(), chunk, &written, nullptr)) {
                failStore(m_target, "cannot write " + narrow(m_temporary), ::GetLastError());
            }
            bytes.remove_prefix(written);
        }
    }

    void close() override
    {
        if (m_file.valid() && !::CloseHandle(m_file.release())) {
            failStore(m_target, "cannot close " + narrow(m_temporary), ::GetLastError());
        }
    }

    void commit() override
    {
        close();
        if (!::MoveFileExW(m_temporary.c_str(), m_wideTarget.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            failStore(m_target, "cannot move " + narrow(m_temporary) + " over it",
                      ::GetLastError());
        }
        m_temporary.clear();
    }

private:
    std::string m_target;
    std::wstring m_wideTarget;
    std::wstring m_temporary;
    UniqueFileHandle m_file;
};

} // namespace

CardEntries Win32FileSystem::searchCardEntries(std::string_view dataFolder, char letter)
{
    const std::string folder(dataFolder);
    // The letter and '*' only: the system's wildcards also match periods and
    // 8.3 short names, so the card-name rule below decides, never the pattern.
    const std::wstring pattern = toWide(folder + letter + "*");
    WIN32_FIND_DATAW found{};
    UniqueFindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr,
                                               FIND_FIRST_EX_LARGE_FETCH));
    CardEntries names;
    if (!search.valid()) {
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

std::uint64_t Win32FileSystem::fileSize(std::string_view path) noexcept
{
    try {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return 0;
        }
        return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

std::unique_ptr<StagedFile> Win32FileSystem::stageFile(std::string_view path)
{
    return std::make_unique<Win32StagedFile>(path);
}

std::unique_ptr<LogFile> Win32FileSystem::createLog(std::string_view path)
{
    return std::make_unique<Win32LogFile>(path);
}

} // namespace kqget
