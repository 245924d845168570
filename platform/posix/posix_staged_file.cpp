#include "platform/posix/posix_staged_file.h"

#include "platform/posix/unique_fd.h"
#include "platform/system_error_text.h"
#include "platform/temporary_name.h"
#include "update/run_error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kqget {

namespace {

// What every later card file would meet as well: the disk, the process or
// the system is short of something. Anything else (no write permission, a
// folder at the file's name, a name too long) is this file's own.
FailureReach reachOf(int error) noexcept
{
    constexpr std::array kShortOfSomething{ENOSPC, EDQUOT, EMFILE, ENFILE, ENOMEM, EIO, EROFS};
    return std::ranges::find(kShortOfSomething, error) != kShortOfSomething.end()
               ? FailureReach::Run
               : FailureReach::OneCardFile;
}

// Whether kqget runs as root, which keeps card files' owners: asked once,
// not for every file stored.
bool isRoot()
{
    static const bool root = ::geteuid() == 0;
    return root;
}

class PosixStagedFile final : public StagedFile
{
public:
    explicit PosixStagedFile(std::string_view target) : m_target(target)
    {
        struct stat old
        {};
        if (::stat(m_target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
            m_old = old;
        }
        // Created with the mode it keeps: the old file's, or the one any new
        // file gets (the umask or the folder's default ACL).
        const mode_t mode = m_old ? (m_old->st_mode & 0777) : 0666;
        const std::string cardFolder = folderOf<char>(m_target, "/", 1);
        if (!m_old) {
            m_fd = UniqueFd(::open(cardFolder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        }
        struct stat created
        {};
        m_unnamed = m_fd.valid() && ::fstat(m_fd.get(), &created) == 0;
        // The card folder is asked about only where its answer counts: for
        // the named way's disk, and for a new file's owner under root.
        struct stat folder
        {};
        const bool folderKnown =
            (!m_unnamed || (isRoot() && !m_old)) && ::stat(cardFolder.c_str(), &folder) == 0;
        // A replaced file, a file system that has no unnamed files, or any
        // failure to make one, takes the named way, which tells the failure.
        // O_EXCL makes a clash with a stranger's file a retry under the next
        // name, never a write into it.
        const auto create = [&](const std::string& path) {
            m_fd = UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
            if (!m_fd.valid()) {
                return errno;
            }
            ::fstat(m_fd.get(), &created);
            if (folderKnown && folder.st_dev != created.st_dev) {
                ::unlink(path.c_str());
                return EXDEV;
            }
            return 0;
        };
        if (const int error = m_unnamed ? 0 : name(create)) {
            fail("cannot create its temporary file", error);
        }
        if (const int error = adoptOwnership(created, folderKnown && !m_old ? &folder : nullptr)) {
            fail("cannot set the mode of its temporary file", error);
        }
    }

    void write(std::string_view bytes) override
    {
        if (const int error = writeAll(m_fd, bytes)) {
            fail("cannot write its temporary file", error);
        }
    }

    void close() override
    {
        // Closing an unnamed file would remove it: commit() names it first.
        if (!m_unnamed && m_fd.valid() && ::close(m_fd.release()) != 0) {
            fail("cannot close its temporary file", errno);
        }
    }

    std::string temporaryPath() const override
    {
        return m_unnamed ? "/proc/self/fd/" + std::to_string(m_fd.get()) : m_temporary.path;
    }

    void commit() override
    {
        if (m_unnamed) {
            // A new card file takes its name at once; one that came meanwhile
            // is replaced through a name the next run would find.
            const std::string self = temporaryPath();
            const auto link = [&](const std::string& path) {
                return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(),
                                AT_SYMLINK_FOLLOW) == 0
                           ? 0
                           : errno;
            };
            if (link(m_target) == 0) {
                m_fd.reset();
                return;
            }
            if (const int error = name(link)) {
                fail("cannot name its temporary file", error);
            }
            m_unnamed = false;
        }
        close();
        if (::rename(m_temporary.path.c_str(), m_target.c_str()) != 0) {
            fail("cannot rename its temporary file over it", errno);
        }
        m_temporary.path.clear();
    }

private:
    // The temporary file goes unnamed: its random name would make the log of
    // one run differ from another's, and it is removed with the failure anyway.
    [[noreturn]] void fail(std::string_view what, int error) const
    {
        throw RunError(ErrorNumber::CardFile,
                       "cannot store '" + m_target + "': " + std::string(what) + ": " +
                           systemErrorText(error),
                       reachOf(error));
    }

    // Gives the file a fresh temporary name through `make(path)`: in the data
    // folder, or beside the card file where its folder is on another disk
    // (`make` answers EXDEV), for a rename cannot reach it from there.
    // Returns the system's error, 0 when named.
    template <typename Make> int name(Make make)
    {
        int error = EXDEV;
        for (int levels = 2; levels > 0 && error == EXDEV; --levels) {
            const std::string folder = folderOf<char>(m_target, "/", levels);
            error = withFreshName(
                [&](const std::string& name) { return make(m_temporary.path = folder + name); },
                EEXIST);
        }
        if (error != 0) {
            m_temporary.path.clear(); // nothing of this file has that name
        }
        return error;
    }

    // A replaced card file keeps its mode, and under root its owner too, so
    // that the card product, running as its user, can still rewrite it. A new
    // one made by root goes to whoever owns its card folder. The file was
    // created with the mode it is to keep, so this costs a call only where
    // the umask took bits away or the owner must change.
    int adoptOwnership(const struct stat& created, const struct stat* folder)
    {
        const struct stat* owner = m_old ? &*m_old : folder;
        const bool ownerChanges =
            isRoot() && owner != nullptr &&
            (owner->st_uid != created.st_uid || owner->st_gid != created.st_gid);
        if (ownerChanges && ::fchown(m_fd.get(), owner->st_uid, owner->st_gid) != 0) {
            return errno;
        }
        if (!m_old) {
            return 0; // created as any new file is
        }
        // After the owner: changing it may clear the set-id bits.
        const mode_t mode = m_old->st_mode & 07777;
        if (!ownerChanges && (created.st_mode & 07777) == mode) {
            return 0; // created with every bit the old file had
        }
        return ::fchmod(m_fd.get(), mode) == 0 ? 0 : errno;
    }

    // A temporary file's name, removed with the file unless it went over the card file.
    struct TemporaryName
    {
        std::string path;
        ~TemporaryName()
        {
            if (!path.empty()) {
                ::unlink(path.c_str());
            }
        }
    };

    std::string m_target;
    TemporaryName m_temporary;
    UniqueFd m_fd;
    bool m_unnamed = false;           // no name yet: the file lives while m_fd is open
    std::optional<struct stat> m_old; // the card file replaced, if a plain file
};

} // namespace

std::unique_ptr<StagedFile> stagePosixFile(std::string_view target)
{
    return std::make_unique<PosixStagedFile>(target);
}

} // namespace kqget
