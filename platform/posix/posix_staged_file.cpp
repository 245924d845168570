#include "platform/posix/posix_staged_file.h"

#include "platform/system_error_text.h"
#include "platform/temporary_name.h"
#include "update/run_error.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

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

// Whether kqget runs as root, which keeps card files' owners: asked once,
// not for every file stored.
bool isRoot()
{
    static const bool root = ::geteuid() == 0;
    return root;
}

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
    // The card folder is asked about only where its answer counts: for the
    // named way's disk, and for a new file's owner under root.
    struct stat folder
    {};
    std::optional<bool> folderKnown;
    const auto knowFolder = [&] {
        if (!folderKnown) {
            folderKnown = ::stat(folderOf(m_target, 1).c_str(), &folder) == 0;
        }
        return *folderKnown;
    };
    struct stat created
    {};
    // A file system that has no unnamed files, or any failure to make one,
    // takes the named way, which tells the failure.
    const mode_t createMode = m_old ? (m_old->st_mode & 0777) : 0666;
    m_fd = UniqueFd(
        ::open(folderOf(m_target, 1).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode));
    m_unnamed = m_fd.valid() && ::fstat(m_fd.get(), &created) == 0;
    if (!m_unnamed) {
        create(folderOf(m_target, 2), created);
        // A card folder that is a link to another disk: a rename cannot reach it.
        if (knowFolder() && folder.st_dev != created.st_dev) {
            ::unlink(m_temporary.c_str());
            create(folderOf(m_target, 1), created);
        }
    }
    const bool folderCounts = isRoot() && !m_old && knowFolder();
    if (const int error = adoptOwnership(created, folderCounts ? &folder : nullptr)) {
        if (!m_unnamed) {
            ::unlink(m_temporary.c_str()); // no destructor runs for a constructor that throws
        }
        failStore(m_target, "cannot set the mode of its temporary file", error);
    }
}

PosixStagedFile::~PosixStagedFile()
{
    m_fd.reset();
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
    }
}

void PosixStagedFile::create(const std::string& folder, struct stat& created)
{
    // Created with the mode it keeps: the old file's, or the one any new
    // file gets (the umask or the folder's default ACL). O_EXCL makes a clash
    // with a stranger's file a retry under the next name, never a write into it.
    const mode_t createMode = m_old ? (m_old->st_mode & 0777) : 0666;
    m_fd.reset();
    for (int attempt = 0; attempt < kCreateAttempts && !m_fd.valid(); ++attempt) {
        m_temporary = folder + temporaryName();
        m_fd = UniqueFd(
            ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode));
        if (!m_fd.valid() && errno != EEXIST) {
            break;
        }
    }
    if (!m_fd.valid()) {
        const int error = errno;
        m_temporary.clear(); // nothing was created
        failStore(m_target, "cannot create its temporary file", error);
    }
    ::fstat(m_fd.get(), &created);
}

void PosixStagedFile::write(std::string_view bytes)
{
    if (const int error = writeAll(m_fd, bytes)) {
        failStore(m_target, "cannot write its temporary file", error);
    }
}

void PosixStagedFile::close()
{
    if (m_unnamed) {
        return; // closing it would remove it: commit() does, once it has a name
    }
    if (m_fd.valid() && ::close(m_fd.release()) != 0) {
        failStore(m_target, "cannot close its temporary file", errno);
    }
}

std::string PosixStagedFile::temporaryPath() const
{
    return m_unnamed ? "/proc/self/fd/" + std::to_string(m_fd.get()) : m_temporary;
}

bool PosixStagedFile::link(const std::string& folder)
{
    const std::string self = temporaryPath();
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        m_temporary = folder + temporaryName();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_temporary.c_str(), AT_SYMLINK_FOLLOW) ==
            0) {
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    m_temporary.clear();
    return false;
}

void PosixStagedFile::commit()
{
    if (m_unnamed) {
        // A new card file takes its name at once; a file that is there (or
        // came meanwhile) is replaced through a name the next run would find.
        const std::string self = temporaryPath();
        if (!m_old &&
            ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_unnamed = false;
            m_fd.reset();
            return;
        }
        if (!link(folderOf(m_target, 2)) && !link(folderOf(m_target, 1))) {
            failStore(m_target, "cannot name its temporary file", errno);
        }
        m_unnamed = false;
    }
    close();
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        failStore(m_target, "cannot rename its temporary file over it", errno);
    }
    m_temporary.clear();
}

// A replaced card file keeps its mode, and under root its owner too, so that
// the card product, running as its user, can still rewrite it. A new one made
// by root goes to whoever owns its card folder. The file was created with the
// mode it is to keep, so this costs a call only where the umask took bits away
// or the owner must change.
int PosixStagedFile::adoptOwnership(const struct stat& created, const struct stat* folder)
{
    const struct stat* owner = m_old ? &*m_old : folder;
    const bool ownerChanges = isRoot() && owner != nullptr &&
                              (owner->st_uid != created.st_uid || owner->st_gid != created.st_gid);
    if (ownerChanges && ::fchown(m_fd.get(), owner->st_uid, owner->st_gid) != 0) {
        return errno;
    }
    if (!m_old) {
        return 0; // created as any new file is
    }
    // After the owner: changing it may clear the set-id bits.
    const mode_t mode = m_old->st_mode & 07777;
    if (!ownerChanges && (mode & ~static_cast<mode_t>(m_newFileMode) & 0666) == 0 &&
        (mode & 07111) == 0) {
        return 0; // the umask left every bit the old file had
    }
    return ::fchmod(m_fd.get(), mode) == 0 ? 0 : errno;
}

} // namespace kqget
