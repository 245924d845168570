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

// Why an open of the log failed, in the user's terms where the plain error
// text would puzzle: a link (ELOOP) or a pipe without a reader (ENXIO).
std::string openFailure(const std::string& path, int error)
{
    struct stat info
    {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            return "it is a symbolic link, which the log is never written through; remove it";
        }
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
            return "it is not a regular file";
        }
    }
    return systemErrorText(error);
}

} // namespace

BufferedLogFile::BufferedLogFile(std::string_view path) : m_path(path)
{
    // The log holds the account key inside every info URL, and it may lie in a
    // folder that others can write to: a link planted at its name must not make
    // the run empty, or open to all, the file it points at. So the name is
    // opened without following a link, and emptied only once it has proved to
    // be a plain file (O_NONBLOCK keeps a pipe there from blocking the open).
    m_fd = UniqueFd(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                           kOwnerOnly));
    if (!m_fd.valid()) {
        const int error = errno;
        throw RunError(ErrorNumber::LogFile,
                       "cannot create run log '" + m_path + "': " + openFailure(m_path, error));
    }
    struct stat info
    {};
    if (::fstat(m_fd.get(), &info) != 0) {
        fail("cannot examine", m_path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        throw RunError(ErrorNumber::LogFile,
                       "cannot create run log '" + m_path + "': it is not a regular file");
    }
    if (::ftruncate(m_fd.get(), 0) != 0) {
        fail("cannot empty", m_path, errno);
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
