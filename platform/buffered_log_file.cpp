#include "platform/buffered_log_file.h"

#include "platform/system_error_text.h"
#include "update/run_error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kqget {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

[[noreturn]] void fail(std::string_view what, const std::string& path, int error)
{
    throw RunError(ErrorNumber::LogFile,
                   std::string(what) + " run log '" + path + "': " + systemErrorText(error));
}

} // namespace

BufferedLogFile::BufferedLogFile(std::string_view path) : m_path(path)
{
    // The log holds the account key inside every info URL.
    m_fd = UniqueFd(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kOwnerOnly));
    if (!m_fd.valid()) {
        fail("cannot create", m_path, errno);
    }
    if (::fchmod(m_fd.get(), kOwnerOnly) != 0) {
        fail("cannot restrict access to", m_path, errno);
    }
    m_buffer.reserve(kBufferSize);
}

BufferedLogFile::~BufferedLogFile()
{
    if (m_fd.valid()) {
        try {
            close();
        } catch (const RunError&) {
            // Only reached while another error unwinds; that one is reported.
        }
    }
}

void BufferedLogFile::write(std::string_view text)
{
    if (!m_fd.valid()) {
        throw RunError(ErrorNumber::LogFile, "run log '" + m_path + "' is already closed");
    }
    if (m_buffer.size() + text.size() > kBufferSize) {
        flush();
    }
    m_buffer.append(text);
}

void BufferedLogFile::close()
{
    if (!m_fd.valid()) {
        return;
    }
    try {
        flush();
    } catch (const RunError&) {
        m_fd.reset();
        throw;
    }
    if (::close(m_fd.release()) != 0) {
        fail("cannot close", m_path, errno);
    }
}

void BufferedLogFile::flush()
{
    std::string_view pending = m_buffer;
    while (!pending.empty()) {
        const ssize_t written = ::write(m_fd.get(), pending.data(), pending.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            m_buffer.clear();
            fail("cannot write", m_path, error);
        }
        pending.remove_prefix(static_cast<std::size_t>(written));
    }
    m_buffer.clear();
}

} // namespace kqget
