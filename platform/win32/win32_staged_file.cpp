#include "platform/win32/win32_staged_file.h"

#include "platform/temporary_name.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "update/run_error.h"

#include <algorithm>
#include <array>

namespace kqget {

namespace {

// ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
constexpr unsigned long kDiskQuotaExceeded = 1295;
constexpr DWORD kMoveOver = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// What every later card file would meet as well: the disk, the process or
// the system is short of something. Anything else (access denied, a folder at
// the file's name, a name too long) is this file's own.
FailureReach reachOf(unsigned long error) noexcept
{
    constexpr std::array<unsigned long, 10> kShortOfSomething{ERROR_DISK_FULL,
                                                              ERROR_HANDLE_DISK_FULL,
                                                              kDiskQuotaExceeded,
                                                              ERROR_TOO_MANY_OPEN_FILES,
                                                              ERROR_NOT_ENOUGH_MEMORY,
                                                              ERROR_OUTOFMEMORY,
                                                              ERROR_NO_SYSTEM_RESOURCES,
                                                              ERROR_WRITE_PROTECT,
                                                              ERROR_CRC,
                                                              ERROR_IO_DEVICE};
    return std::ranges::find(kShortOfSomething, error) != kShortOfSomething.end()
               ? FailureReach::Run
               : FailureReach::OneCardFile;
}

// A temporary file: deleted when it goes unless it was moved into place.
struct Temporary
{
    std::wstring path;
    UniqueFileHandle file;

    // Creates a new, empty file of a fresh name in `folder`; the system's
    // error, 0 when made.
    unsigned long create(const std::wstring& folder)
    {
        const unsigned long error = withFreshName(
            [&](const std::string& name) -> unsigned long {
                path = folder + toWide(name);
                file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
                return file ? ERROR_SUCCESS : ::GetLastError();
            },
            static_cast<unsigned long>(ERROR_FILE_EXISTS));
        if (error != ERROR_SUCCESS) {
            path.clear(); // nothing was created
        }
        return error;
    }
    ~Temporary()
    {
        file.reset();
        if (!path.empty()) {
            ::DeleteFileW(path.c_str());
        }
    }
};

class Win32StagedFile final : public StagedFile
{
public:
    explicit Win32StagedFile(std::string_view target) : m_target(target), m_wide(toWide(target))
    {
        if (const unsigned long error = m_temporary.create(folderOf<wchar_t>(m_wide, L"\\/", 2))) {
            fail("cannot create its temporary file", error);
        }
    }

    void write(std::string_view bytes) override
    {
        if (const DWORD error = writeAll(m_temporary.file, bytes)) {
            fail("cannot write its temporary file", error);
        }
    }

    void close() override
    {
        if (m_temporary.file && !::CloseHandle(m_temporary.file.release())) {
            fail("cannot close its temporary file", ::GetLastError());
        }
    }

    void commit() override
    {
        close();
        if (!::MoveFileExW(m_temporary.path.c_str(), m_wide.c_str(), kMoveOver)) {
            const unsigned long error = ::GetLastError();
            if (error != ERROR_NOT_SAME_DEVICE) {
                fail("cannot move its temporary file over it", error);
            }
            moveAcross();
        }
        m_temporary.path.clear();
    }

    std::string temporaryPath() const override { return toUtf8(m_temporary.path); }

private:
    [[noreturn]] void fail(std::string_view what, unsigned long error) const
    {
        // The temporary file goes unnamed: its random name would make the log
        // of one run differ from another's, and it is removed anyway.
        throw RunError(ErrorNumber::CardFile,
                       "cannot store '" + m_target + "': " + std::string(what) + ": " +
                           windowsErrorText(error),
                       reachOf(error));
    }

    // The card folder is on another volume: the content goes there under a
    // temporary name first, so that the move over the card file stays whole.
    void moveAcross()
    {
        Temporary beside;
        unsigned long error = beside.create(folderOf<wchar_t>(m_wide, L"\\/", 1));
        beside.file.reset();
        if (error == ERROR_SUCCESS &&
            (!::CopyFileW(m_temporary.path.c_str(), beside.path.c_str(), FALSE) ||
             !::MoveFileExW(beside.path.c_str(), m_wide.c_str(), kMoveOver))) {
            error = ::GetLastError();
        }
        if (error != ERROR_SUCCESS) {
            fail("cannot move its temporary file to its folder", error);
        }
        beside.path.clear(); // now the card file
        ::DeleteFileW(m_temporary.path.c_str());
    }

    std::string m_target;
    std::wstring m_wide;
    Temporary m_temporary;
};

} // namespace

std::unique_ptr<StagedFile> stageWin32File(std::string_view target)
{
    return std::make_unique<Win32StagedFile>(target);
}

} // namespace kqget
