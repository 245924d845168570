#include "platform/posix/posix_staged_file.h"

#include "platform/system_error_text.h"
#include "platform/temporary_name.h"
#include "update/run_error.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace kqget {

namespace {

// What every later card file would meet as well: the disk, the process or
// the system is short of something. Anything else (no write permission, a
// folder at the file's name, a name too long) is this file's own.
FailureReach reachOf(int error) noexcept
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EIO:
    case EROFS:
        return FailureReach::Run;
    default:
        return FailureReach::OneCardFile;
    }
}

// The temporary file goes unnamed: its random name would make the log of
// one run differ from another's, and it is removed with the failure anyway.
[[noreturn]] void failStore(const std::string& path, std::string_view what, int error)
{
    throw RunError(ErrorNumber::CardFile,
                   "cannot store '" + path + "': " + std::string(what) + ": " +
                       systemErrorText(error),
                   reachOf(error));
}

constexpr int kCreateAttempts = 100;

// The folder that holds `path`, with its '/' ("DATA/ID/" of "DATA/ID/NAME");
// `levels` 2 gives the data folder. "./" where the path names none.
std::string folderOf(std::string_view path, int levels)
{
    std::size_t end = path.size();
    for (int level = 0; level < levels; ++level) {
        const std::size_t slash = end == 0 ? std::string_view::npos : path.rfind('/', end - 1);
        if (slash == std::string_view::npos) {
            return "./";
        }
        end = slash;
    }
    return std::string(path.substr(0, end + 1));
}

} // namespace

PosixStagedFile::PosixStagedFile(std::string_view target, unsigned newFileMode)
    : m_target(target), m_newFileMode(newFileMode)
{
    struct stat old
    {};
    if (::stat(m_target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        m_old = old;
    }
    m_fd = create(folderOf(m_target, 2), m_temporary);
}

PosixStagedFile::~PosixStagedFile()
{
    m_fd.reset();
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
    }
}

UniqueFd PosixStagedFile::create(std::string_view folder, std::string& path)
{
    // Created with the mode it keeps: the old file's, or the one any new
    // file gets (the umask or the folder's default ACL). O_EXCL makes a clash
    // with a stranger's file a retry under the next name, never a write into it.
    const mode_t createMode = m_old ? (m_old->st_mode & 0777) : 0666;
    UniqueFd fd;
    for (int attempt = 0; attempt < kCreateAttempts && !fd.valid(); ++attempt) {
        path.assign(folder).append(temporaryName());
        fd = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, createMode));
        if (!fd.valid() && errno != EEXIST) {
            break;
        }
    }
    if (!fd.valid()) {
        const int error = errno;
        path.clear(); // nothing was created
        failStore(m_target, "cannot create its temporary file", error);
    }
    struct stat created
    {};
    ::fstat(fd.get(), &created);
    if (const int error = adoptOwnership(fd.get(), created)) {
        ::unlink(path.c_str());
        path.clear();
        failStore(m_target, "cannot set the mode of its temporary file", error);
    }
    return fd;
}

void PosixStagedFile::write(std::string_view bytes)
{
    if (const int error = writeAll(m_fd, bytes)) {
        failStore(m_target, "cannot write its temporary file", error);
    }
}

void PosixStagedFile::close()
{
    if (m_fd.valid() && ::close(m_fd.release()) != 0) {
        failStore(m_target, "cannot close its temporary file", errno);
    }
}

void PosixStagedFile::commit()
{
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        if (errno != EXDEV) {
            failStore(m_target, "cannot rename its temporary file over it", errno);
        }
        moveAcross();
    }
    close();
    m_temporary.clear();
}

void PosixStagedFile::moveAcross()
{
    if (!m_fd.valid()) {
        m_fd = UniqueFd(::open(m_temporary.c_str(), O_RDONLY | O_CLOEXEC));
    }
    std::string beside;
    UniqueFd copy = create(folderOf(m_target, 1), beside);
    std::array<char, 64 * 1024> buffer{};
    int error = 0;
    for (off_t at = 0; error == 0;) {
        const ssize_t got = ::pread(m_fd.get(), buffer.data(), buffer.size(), at);
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        error = writeAll(copy, {buffer.data(), static_cast<std::size_t>(got)});
        at += got;
    }
    if (error == 0 && ::close(copy.release()) != 0) {
        error = errno;
    }
    if (error == 0 && ::rename(beside.c_str(), m_target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(beside.c_str());
        failStore(m_target, "cannot move its temporary file to its folder", error);
    }
    ::unlink(m_temporary.c_str());
}

// A replaced card file keeps its mode, and under root its owner too, so that
// the card product, running as its user, can still rewrite it. A new one made
// by root goes to whoever owns its card folder. The file was created with the
// mode it is to keep, so this costs a call only where the umask took bits away
// or the owner must change.
int PosixStagedFile::adoptOwnership(int fd, const struct stat& created)
{
    bool ownerChanged = false;
    if (::geteuid() == 0) {
        struct stat folder
        {};
        const struct stat* owner = m_old ? &*m_old : nullptr;
        if (!m_old && ::stat(folderOf(m_target, 1).c_str(), &folder) == 0) {
            owner = &folder;
        }
        if (owner != nullptr &&
            (owner->st_uid != created.st_uid || owner->st_gid != created.st_gid)) {
            if (::fchown(fd, owner->st_uid, owner->st_gid) != 0) {
                return errno;
            }
            ownerChanged = true;
        }
    }
    if (!m_old) {
        return 0; // created as any new file is
    }
    // After the owner: changing it may clear the set-id bits.
    const mode_t mode = m_old->st_mode & 07777;
    if (!ownerChanged && (mode & ~static_cast<mode_t>(m_newFileMode) & 0666) == 0 &&
        (mode & 07111) == 0) {
        return 0; // the umask left every bit the old file had
    }
    return ::fchmod(fd, mode) == 0 ? 0 : errno;
}

} // namespace kqget
