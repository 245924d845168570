#include "platform/win32/win32_staged_file.h"

#include "platform/temporary_name.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "update/run_error.h"

namespace kqget {

namespace {

// Names taken by other files before one is free: far more than chance allows.
constexpr int kNamesToTry = 100;

// ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
constexpr unsigned long kDiskQuotaExceeded = 1295;

// What every later card file would meet as well: the disk, the process or
// the system is short of something. Anything else (access denied, a folder at
// the file's name, a name too long) is this file's own.
FailureReach reachOf(unsigned long error) noexcept
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_WRITE_PROTECT:
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
        return FailureReach::Run;
    default:
        return FailureReach::OneCardFile;
    }
}

// The temporary file goes unnamed: its random name would make the log of
// one run differ from another's, and it is removed with the failure anyway.
[[noreturn]] void failStore(std::string_view path, std::string_view what, unsigned long error)
{
    throw RunError(ErrorNumber::CardFile,
                   "cannot store '" + std::string(path) + "': " + std::string(what) + ": " +
                       windowsErrorText(error),
                   reachOf(error));
}

// The folder that holds `path`, with its separator; `levels` 2 gives the
// data folder of a card file. Empty (the current folder) where it names none.
std::wstring folderOf(const std::wstring& path, int levels)
{
    std::size_t end = path.size();
    for (int level = 0; level < levels; ++level) {
        const std::size_t separator =
            end == 0 ? std::wstring::npos : path.find_last_of(L"\\/", end - 1);
        if (separator == std::wstring::npos) {
            return {};
        }
        end = separator;
    }
    return path.substr(0, end + 1);
}

// Creates a new, empty file of a fresh temporary name in `folder` (ending in
// a separator); its path goes to `path`. Returns the system's error, 0 when made.
unsigned long createTemporary(const std::wstring& folder, std::wstring& path,
                              UniqueFileHandle& file)
{
    unsigned long error = ERROR_FILE_EXISTS;
    for (int i = 0; i < kNamesToTry && error == ERROR_FILE_EXISTS; ++i) {
        path = folder + toWide(temporaryName());
        file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        error = file.valid() ? ERROR_SUCCESS : ::GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        path.clear(); // nothing was created
    }
    return error;
}

} // namespace

Win32StagedFile::Win32StagedFile(std::string_view target)
    : m_target(target), m_wideTarget(toWide(target))
{
    if (const unsigned long error =
            createTemporary(folderOf(m_wideTarget, 2), m_temporary, m_file)) {
        failStore(m_target, "cannot create its temporary file", error);
    }
}

Win32StagedFile::~Win32StagedFile()
{
    m_file.reset();
    if (!m_temporary.empty()) {
        ::DeleteFileW(m_temporary.c_str());
    }
}

void Win32StagedFile::write(std::string_view bytes)
{
    if (const DWORD error = writeAll(m_file, bytes)) {
        failStore(m_target, "cannot write its temporary file", error);
    }
}

void Win32StagedFile::close()
{
    if (m_file.valid() && !::CloseHandle(m_file.release())) {
        failStore(m_target, "cannot close its temporary file", ::GetLastError());
    }
}

void Win32StagedFile::commit()
{
    close();
    if (!::MoveFileExW(m_temporary.c_str(), m_wideTarget.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const unsigned long error = ::GetLastError();
        if (error != ERROR_NOT_SAME_DEVICE) {
            failStore(m_target, "cannot move its temporary file over it", error);
        }
        moveAcross();
    }
    m_temporary.clear();
}

void Win32StagedFile::moveAcross()
{
    std::wstring beside;
    UniqueFileHandle created;
    unsigned long error = createTemporary(folderOf(m_wideTarget, 1), beside, created);
    created.reset();
    if (error == ERROR_SUCCESS &&
        (!::CopyFileW(m_temporary.c_str(), beside.c_str(), FALSE) ||
         !::MoveFileExW(beside.c_str(), m_wideTarget.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))) {
        error = ::GetLastError();
        ::DeleteFileW(beside.c_str());
    }
    if (error != ERROR_SUCCESS) {
        failStore(m_target, "cannot move its temporary file to its folder", error);
    }
    ::DeleteFileW(m_temporary.c_str());
}

std::string Win32StagedFile::temporaryPath() const
{
    return toUtf8(m_temporary);
}

} // namespace kqget
