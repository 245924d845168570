#include "platform/buffered_log.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"

namespace kqget {

namespace {

// The text is UTF-8, which the program's manifest makes the process code
// page, so no card name or path is lost; the run itself ends lines in CR LF.
class Win32LogFile final : public BufferedLog
{
public:
    explicit Win32LogFile(std::string_view path);
    ~Win32LogFile() override { closeQuietly(); }

private:
    void writeOut(std::string_view bytes) override
    {
        if (const DWORD error = writeAll(m_file, bytes)) {
            fail("cannot write", windowsErrorText(error));
        }
    }
    void closeHandle() override
    {
        if (!::CloseHandle(m_file.release())) {
            fail("cannot close", windowsErrorText(::GetLastError()));
        }
    }

    UniqueFileHandle m_file;
};

Win32LogFile::Win32LogFile(std::string_view path) : BufferedLog(path)
{
    // The log holds the account key inside every info URL. A link planted at
    // its name must not make the run empty the file it points at, so the name
    // itself is opened (FILE_FLAG_OPEN_REPARSE_POINT) and emptied only once it
    // has proved to be a plain file.
    m_file = UniqueFileHandle(
        ::CreateFileW(toWide(this->path()).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_file) {
        failToCreate(windowsErrorText(::GetLastError()));
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(m_file.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
        fail("cannot examine", windowsErrorText(::GetLastError()));
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        fail("cannot create", "it is a symbolic link or junction, which the log is never "
                              "written through; remove it");
    }
    if (::GetFileType(m_file.get()) != FILE_TYPE_DISK ||
        (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        fail("cannot create", "it is not a regular file");
    }
    if (!::SetEndOfFile(m_file.get())) { // the file pointer is still at its start
        fail("cannot empty", windowsErrorText(::GetLastError()));
    }
}

} // namespace

std::unique_ptr<LogFile> openRunLog(std::string_view path)
{
    return std::make_unique<Win32LogFile>(path);
}

} // namespace kqget
