#include "platform/posix/posix_staged_file.h"

#include "platform/posix/staging_area.h"
#include "platform/posix/temporary_name.h"
#include "platform/system_error_text.h"
#include "update/run_error.h"

#include <algorithm>
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
constexpr std::size_t kGatherBytes = StagingArea::kGatherBytes;

// The card file being replaced, if it is a plain file.
std::optional<struct stat> replacedFile(const std::string& target)
{
    struct stat old
    {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        return old;
    }
    return std::nullopt;
}

// Where a path lies below the data folder's handle: "CARD/NAME" of
// "DATA/CARD/NAME"; empty when the path is not that deep.
std::string fromDataFolder(std::string_view path)
{
    const std::size_t start = nameStart(path);
    const std::size_t folderStart = start >= 2 ? path.rfind('/', start - 2) : std::string::npos;
    return folderStart == std::string::npos ? std::string()
                                            : std::string(path.substr(folderStart + 1));
}

} // namespace

PosixStagedFile::PosixStagedFile(std::shared_ptr<StagingArea> area, std::string_view target)
    : m_area(std::move(area)), m_target(target)
{
    const std::size_t start = nameStart(m_target);
    const std::string prefix = m_target.substr(0, start) + temporaryPrefix(m_target);
    m_dataFolder = m_area->dataFolderOf(m_target);
    // Not there when its folder was listed at its turn, moments ago: nothing
    // to replace.
    const std::optional<struct stat> old =
        m_area->listedPresent(m_target) == false ? std::nullopt : replacedFile(m_target);
    // Created with the mode it keeps: the old file's, or the one any new
    // file gets here (the umask or the folder's default ACL).
    const mode_t createMode = old ? (old->st_mode & 0777) : 0666;
    {
        // Known as ours before a sweep can see it. O_EXCL makes a clash with
        // a stranger's file a retry under the next name, never a write into it.
        const std::lock_guard lock(m_area->m_mutex);
        for (int attempt = 0; attempt < kCreateAttempts && !m_fd.valid(); ++attempt) {
            m_temporary = prefix + uniqueSuffix();
            m_fd = UniqueFd(
                ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode));
            if (!m_fd.valid() && errno != EEXIST) {
                break;
            }
        }
        if (!m_fd.valid()) {
            const int error = errno;
            m_temporary.clear(); // nothing was created
            failStore(m_target, "cannot create a temporary file beside it", error);
        }
        m_area->m_live.insert(m_temporary);
    }
    m_fromDataFolder = fromDataFolder(m_temporary);
    struct stat created
    {};
    ::fstat(m_fd.get(), &created);
    m_device = created.st_dev;
    m_inode = created.st_ino;
    if (const int error = adoptOwnership(created, old)) {
        removeTemporary();
        failStore(m_target, "cannot set the mode of its temporary file", error);
    }
}

PosixStagedFile::~PosixStagedFile()
{
    removeTemporary();
    if (m_buffer) {
        m_area->giveBack(std::move(m_buffer));
    }
}

void PosixStagedFile::write(std::string_view bytes)
{
    if (m_buffered + bytes.size() > kGatherBytes) {
        flush();
    }
    if (bytes.size() >= kGatherBytes) {
        writeOut(bytes);
        return;
    }
    if (!m_buffer) {
        m_buffer = m_area->takeBuffer();
    }
    std::copy(bytes.begin(), bytes.end(), m_buffer.get() + m_buffered);
    m_buffered += bytes.size();
}

void PosixStagedFile::close()
{
    if (!m_fd.valid()) {
        return;
    }
    flush();
    if (m_buffer) {
        m_area->giveBack(std::move(m_buffer)); // a body that waits for its turn holds no memory
    }
    if (::close(m_fd.release()) != 0) {
        failStore(m_target, "cannot close its temporary file", errno);
    }
    m_closedSerial = m_area->listingSerial();
}

void PosixStagedFile::commit()
{
    close();
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        failStore(m_target, "cannot rename its temporary file over it", errno);
    }
    m_area->forget(std::exchange(m_temporary, std::string()));
}

bool PosixStagedFile::intact() const noexcept
{
    if (m_temporary.empty()) {
        return false;
    }
    // Its folder listed at its turn, after it was closed, says as much.
    if (const std::optional<bool> listed =
            m_area->listedIntact(m_target, m_temporary, m_inode, m_closedSerial)) {
        return *listed;
    }
    struct stat info
    {};
    return ::lstat(m_temporary.c_str(), &info) == 0 && info.st_dev == m_device &&
           info.st_ino == m_inode;
}

// A replaced card file keeps its mode, and under root its owner too, so that
// the card product, running as its user, can still rewrite it. A new one made
// by root goes to whoever owns its card folder. The file was created with the
// mode it is to keep, so this costs a call only where the umask took bits away
// or the owner must change.
int PosixStagedFile::adoptOwnership(const struct stat& created,
                                    const std::optional<struct stat>& old)
{
    bool ownerChanged = false;
    if (m_area->m_root) {
        struct stat folder
        {};
        const struct stat* owner = old ? &*old : nullptr;
        if (!old && folderOwner(folder)) {
            owner = &folder;
        }
        if (owner != nullptr &&
            (owner->st_uid != created.st_uid || owner->st_gid != created.st_gid)) {
            if (::fchown(m_fd.get(), owner->st_uid, owner->st_gid) != 0) {
                return errno;
            }
            ownerChanged = true;
        }
    }
    if (!old) {
        return 0; // created as any new file here is
    }
    // After the owner: changing it may clear the set-id bits.
    const mode_t mode = old->st_mode & 07777;
    if (!ownerChanged && (mode & ~static_cast<mode_t>(m_area->m_newFileMode) & 0666) == 0 &&
        (mode & 07111) == 0) {
        return 0; // the umask left every bit the old file had
    }
    return ::fchmod(m_fd.get(), mode) == 0 ? 0 : errno;
}

// The card folder's owner, looked up from the data folder's handle.
bool PosixStagedFile::folderOwner(struct stat& folder) const
{
    const std::size_t slash = m_fromDataFolder.find('/');
    if (m_dataFolder && slash != std::string::npos) {
        return ::fstatat(m_dataFolder->get(), m_fromDataFolder.substr(0, slash).c_str(), &folder,
                         0) == 0;
    }
    const std::size_t start = nameStart(m_target);
    const std::string path = start == 0 ? std::string(".") : m_target.substr(0, start);
    return ::stat(path.c_str(), &folder) == 0;
}

void PosixStagedFile::flush()
{
    const std::size_t buffered = std::exchange(m_buffered, 0);
    writeOut({m_buffer.get(), buffered});
}

void PosixStagedFile::writeOut(std::string_view bytes)
{
    if (const int error = writeAll(m_fd, bytes)) {
        failStore(m_target, "cannot write its temporary file", error);
    }
}

void PosixStagedFile::removeTemporary() noexcept
{
    m_fd.reset();
    if (m_temporary.empty()) {
        return;
    }
    // Through the data folder's handle when there is one: wherever the folder
    // went meanwhile, the file goes. A folder made anew at the data folder's
    // path holds it by that path.
    if (!m_dataFolder || m_fromDataFolder.empty() ||
        (::unlinkat(m_dataFolder->get(), m_fromDataFolder.c_str(), 0) != 0 && errno == ENOENT)) {
        ::unlink(m_temporary.c_str());
    }
    m_area->forget(std::exchange(m_temporary, std::string()));
}

} // namespace kqget
