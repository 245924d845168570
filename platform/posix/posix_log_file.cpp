#include "platform/buffered_log.h"
#include "platform/posix/unique_fd.h"
#include "platform/system_error_text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kqget {

namespace {

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

// Why an open of the log failed, in the user's terms where the plain error
// text would puzzle: a link (ELOOP) or a pipe without a reader (ENXIO). Empty
// for any other cause.
std::string_view namedFailure(const std::string& path)
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
    return {};
}

class PosixLogFile final : public BufferedLog
{
public:
    explicit PosixLogFile(std::string_view path);
    ~PosixLogFile() override { closeQuietly(); }

private:
    void writeOut(std::string_view bytes) override
    {
        if (const int error = writeAll(m_fd, bytes)) {
            fail("cannot write", systemErrorText(error));
        }
    }
    void closeHandle() override
    {
        if (::close(m_fd.release()) != 0) {
            fail("cannot close", systemErrorText(errno));
        }
    }

    UniqueFd m_fd;
};

PosixLogFile::PosixLogFile(std::string_view path) : BufferedLog(path)
{
    // The log holds the account key inside every info URL, and it may lie in a
    // folder that others can write to: a link planted at its name must not make
    // the run empty, or open to all, the file it points at. So the name is
    // opened without following a link, and emptied only once it has proved to
    // be a plain file (O_NONBLOCK keeps a pipe there from blocking the open).
    m_fd = UniqueFd(::open(this->path().c_str(),
                           O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kOwnerOnly));
    if (!m_fd.valid()) {
        const int error = errno;
        if (const std::string_view named = namedFailure(this->path()); !named.empty()) {
            fail("cannot create", named);
        }
        failToCreate(systemErrorText(error));
    }
    struct stat info
    {};
    if (::fstat(m_fd.get(), &info) != 0) {
        fail("cannot examine", systemErrorText(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        fail("cannot create", "it is not a regular file");
    }
    if (::ftruncate(m_fd.get(), 0) != 0) {
        fail("cannot empty", systemErrorText(errno));
    }
    if (::fchmod(m_fd.get(), kOwnerOnly) != 0) {
        fail("cannot restrict access to", systemErrorText(errno));
    }
}

} // namespace

std::unique_ptr<LogFile> openRunLog(std::string_view path)
{
    return std::make_unique<PosixLogFile>(path);
}

} // namespace kqget
