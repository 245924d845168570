#include "platform/win32/win32_log_file.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "update/run_error.h"

#include <algorithm>
#include <climits>

namespace kqget {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

[[noreturn]] void fail(std::string_view what, const std::string& path, unsigned long error)
{
    throw RunError(ErrorNumber::LogFile,
                   std::string(what) + " run log '" + path + "': " + windowsErrorText(error));
}

[[noreturn]] void refuse(const std::string& path, std::string_view why)
{
    throw RunError(ErrorNumber::LogFile,
                   "cannot create run log '" + path + "': " + std::string(why));
}

} // namespace

Win32LogFile::Win32LogFile(std::string_view path) : m_path(path)
{
    // The log holds the account key inside every info URL. A link planted at
    // its name must not make the run empty the file it points at, so the name
    // itself is opened (FILE_FLAG_OPEN_REPARSE_POINT) and emptied only once it
    // has proved to be a plain file.
    m_file = UniqueFileHandle(
        ::CreateFileW(toWide(m_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_file.valid()) {
        fail("cannot create", m_path, ::GetLastError());
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(m_file.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
        fail("cannot examine", m_path, ::GetLastError());
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        m_file.reset();
        refuse(m_path, "it is a symbolic link or junction, which the log is never written "
                       "through; remove it");
    }
    if (::GetFileType(m_file.get()) != FILE_TYPE_DISK ||
        (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        m_file.reset();
        refuse(m_path, "it is not a regular file");
    }
    if (!::SetEndOfFile(m_file.get())) { // the file pointer is still at its start
        fail("cannot empty", m_path, ::GetLastError());
    }
    m_buffer.reserve(kBufferSize);
}

Win32LogFile::~Win32LogFile()
{
    if (m_file.valid()) {
        try {
            close();
        } catch (const RunError&) {
            // Only reached while another error unwinds; that one is reported.
        }
    }
}

void Win32LogFile::write(std::string_view text)
{
    if (!m_file.valid()) {
        throw RunError(ErrorNumber::LogFile, "run log '" + m_path + "' is already closed");
    }
    if (m_buffer.size() + text.size() > kBufferSize) {
        flush();
    }
    m_buffer.append(text);
}

void Win32LogFile::flush()
{
    std::string_view pending = m_buffer;
    while (!pending.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(pending.size(), INT_MAX));
        DWORD written = 0;
        if (!::WriteFile(m_file.get(), pending.data(), chunk, &written, nullptr)) {
            const unsigned long error = ::GetLastError();
            m_buffer.clear();
            fail("cannot write", m_path, error);
        }
        pending.remove_prefix(written);
    }
    m_buffer.clear();
}

void Win32LogFile::close()
{
    if (!m_file.valid()) {
        return;
    }
    try {
        flush();
    } catch (const RunError&) {
        m_file.reset();
        throw;
    }
    if (!::CloseHandle(m_file.release())) {
        fail("cannot close", m_path, ::GetLastError());
    }
}

} // namespace kqget
