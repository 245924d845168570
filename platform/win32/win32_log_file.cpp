#include "platform/win32/win32_log_file.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "update/run_error.h"

namespace kqget {

namespace {

[[noreturn]] void refuse(const std::string& path, std::string_view why)
{
    throw RunError(ErrorNumber::LogFile,
                   "cannot create run log '" + path + "': " + std::string(why));
}

// Where the log was to be made, for a message that sends the user elsewhere.
std::string folderOf(const std::string& path)
{
    const std::wstring wide = toWide(path);
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = ::GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) {
        return ".";
    }
    full.resize(length);
    const auto separator = full.find_last_of(L"\\/");
    return toUtf8(separator == std::wstring::npos ? full : full.substr(0, separator));
}

} // namespace

Win32LogFile::Win32LogFile(std::string_view path) : BufferedLog(path)
{
    // The log holds the account key inside every info URL. A link planted at
    // its name must not make the run empty the file it points at, so the name
    // itself is opened (FILE_FLAG_OPEN_REPARSE_POINT) and emptied only once it
    // has proved to be a plain file.
    m_file = UniqueFileHandle(
        ::CreateFileW(toWide(this->path()).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_file.valid()) {
        const DWORD error = ::GetLastError();
        failToCreate(folderOf(this->path()), windowsErrorText(error));
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(m_file.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
        fail("cannot examine", windowsErrorText(::GetLastError()));
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        m_file.reset();
        refuse(this->path(), "it is a symbolic link or junction, which the log is never written "
                             "through; remove it");
    }
    if (::GetFileType(m_file.get()) != FILE_TYPE_DISK ||
        (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        m_file.reset();
        refuse(this->path(), "it is not a regular file");
    }
    if (!::SetEndOfFile(m_file.get())) { // the file pointer is still at its start
        fail("cannot empty", windowsErrorText(::GetLastError()));
    }
}

Win32LogFile::~Win32LogFile()
{
    closeQuietly();
}

void Win32LogFile::writeOut(std::string_view bytes)
{
    if (const DWORD error = writeAll(m_file, bytes)) {
        fail("cannot write", windowsErrorText(error));
    }
}

void Win32LogFile::closeHandle()
{
    if (!::CloseHandle(m_file.release())) {
        fail("cannot close", windowsErrorText(::GetLastError()));
    }
}

} // namespace kqget
