#include "platform/posix/staging_area.h"

#include "platform/system_error_text.h"
#include "update/run_error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kqget {

namespace {

constexpr std::string_view kTemporaryMark = ".kqget-";
constexpr std::size_t kRandomLength = 6; // mkstemp's XXXXXX

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

std::size_t nameStart(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

std::string folderOf(std::string_view path)
{
    const std::size_t start = nameStart(path);
    return start == 0 ? std::string(".") : std::string(path.substr(0, start));
}

// ".NAME.kqget-" of "FOLDER/NAME".
std::string temporaryPrefix(std::string_view target)
{
    return std::string(".").append(target.substr(nameStart(target))).append(kTemporaryMark);
}

bool isTemporaryOf(std::string_view entry, std::string_view prefix)
{
    if (entry.size() != prefix.size() + kRandomLength || !entry.starts_with(prefix)) {
        return false;
    }
    for (const char c : entry.substr(prefix.size())) {
        const bool alphanumeric =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alphanumeric) {
            return false;
        }
    }
    return true;
}

// Six letters and digits that differ from one temporary file to the next and
// from one process to another. O_EXCL makes a clash with a stranger's file a
// retry under the next name, never a write into it.
std::string uniqueSuffix()
{
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static const std::uint64_t seed = (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
                                      static_cast<std::uint64_t>(::getpid());
    static std::atomic<std::uint64_t> sequence{0};
    // splitmix64: consecutive numbers come out unrelated.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15u * ++sequence;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    std::string suffix(kRandomLength, ' ');
    for (char& c : suffix) {
        c = kAlphabet[z % kAlphabet.size()];
        z /= kAlphabet.size();
    }
    return suffix;
}

constexpr int kCreateAttempts = 100;
// A transfer hands a body on in pieces of 16 KiB; gathered, a card file of a
// few tens of KB goes to the system in one write.
constexpr std::size_t kGatherBytes = 128 * 1024;

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

// A replaced card file keeps its mode, and under root its owner too, so that
// the card product, running as its user, can still rewrite it. A new one run
// as root belongs to whoever owns its card folder. The file was created with
// the mode it is to keep, so this costs a call only where the umask took bits
// away or the owner must change.
int adoptOwnership(int fd, const std::string& target, const std::optional<struct stat>& old,
                   unsigned newFileMode)
{
    bool ownerChanged = false;
    if (::geteuid() == 0) {
        struct stat folder
        {};
        const struct stat* owner = old ? &*old : nullptr;
        if (!old && ::stat(folderOf(target).c_str(), &folder) == 0) {
            owner = &folder;
        }
        if (owner != nullptr) {
            if (::fchown(fd, owner->st_uid, owner->st_gid) != 0) {
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
    if (!ownerChanged && (mode & ~static_cast<mode_t>(newFileMode) & 0666) == 0 &&
        (mode & 07111) == 0) {
        return 0; // the umask left every bit the old file had
    }
    return ::fchmod(fd, mode) == 0 ? 0 : errno;
}

} // namespace

// A temporary file beside the card file, removed unless renamed into place.
class PosixStagedFile final : public StagedFile
{
public:
    PosixStagedFile(std::shared_ptr<StagingArea> area, std::string_view target)
        : m_area(std::move(area)), m_target(target)
    {
        const std::size_t start = nameStart(m_target);
        const std::string prefix = m_target.substr(0, start) + temporaryPrefix(m_target);
        m_dataFolder = m_area->dataFolderOf(m_target);
        const std::optional<struct stat> old = replacedFile(m_target);
        // Created with the mode it keeps: the old file's, or the one any new
        // file gets here (the umask or the folder's default ACL).
        const mode_t createMode = old ? (old->st_mode & 0777) : 0666;
        {
            // Known as ours before a sweep can see it.
            const std::lock_guard lock(m_area->m_mutex);
            for (int attempt = 0; attempt < kCreateAttempts && !m_fd.valid(); ++attempt) {
                m_temporary = prefix + uniqueSuffix();
                m_fd = UniqueFd(::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                       createMode));
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
        // The path from the data folder: its card folder's name and its own.
        const std::size_t folderStart = m_target.rfind('/', start >= 2 ? start - 2 : 0);
        m_fromDataFolder = folderStart == std::string::npos || start < 2
                               ? std::string()
                               : m_temporary.substr(folderStart + 1);
        if (const int error = adoptOwnership(m_fd.get(), m_target, old, m_area->m_newFileMode)) {
            removeTemporary();
            failStore(m_target, "cannot set the mode of its temporary file", error);
        }
        struct stat info
        {};
        ::fstat(m_fd.get(), &info);
        m_device = info.st_dev;
        m_inode = info.st_ino;
    }
    ~PosixStagedFile() override { removeTemporary(); }
    PosixStagedFile(const PosixStagedFile&) = delete;
    PosixStagedFile& operator=(const PosixStagedFile&) = delete;

    void write(std::string_view bytes) override
    {
        if (m_buffered + bytes.size() > kGatherBytes) {
            flush();
        }
        if (bytes.size() >= kGatherBytes) {
            writeOut(bytes);
            return;
        }
        if (!m_buffer) {
            m_buffer = std::make_unique_for_overwrite<char[]>(kGatherBytes);
        }
        std::copy(bytes.begin(), bytes.end(), m_buffer.get() + m_buffered);
        m_buffered += bytes.size();
    }

    void close() override
    {
        if (!m_fd.valid()) {
            return;
        }
        flush();
        m_buffer.reset(); // a body that waits for its turn holds no memory
        if (::close(m_fd.release()) != 0) {
            failStore(m_target, "cannot close its temporary file", errno);
        }
    }

    void commit() override
    {
        close();
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
            failStore(m_target, "cannot rename its temporary file over it", errno);
        }
        m_area->forget(std::exchange(m_temporary, std::string()));
    }

    std::string temporaryPath() const override { return m_temporary; }

    bool intact() const noexcept override
    {
        struct stat info
        {};
        return !m_temporary.empty() && ::lstat(m_temporary.c_str(), &info) == 0 &&
               info.st_dev == m_device && info.st_ino == m_inode;
    }

private:
    void flush()
    {
        const std::size_t buffered = std::exchange(m_buffered, 0);
        writeOut({m_buffer.get(), buffered});
    }
    void writeOut(std::string_view bytes)
    {
        if (const int error = writeAll(m_fd, bytes)) {
            failStore(m_target, "cannot write its temporary file", error);
        }
    }

    void removeTemporary() noexcept
    {
        m_fd.reset();
        if (m_temporary.empty()) {
            return;
        }
        // Through the data folder's handle when there is one: wherever the
        // folder went meanwhile, the file goes.
        if (m_dataFolder && !m_fromDataFolder.empty()) {
            ::unlinkat(m_dataFolder->get(), m_fromDataFolder.c_str(), 0);
        } else {
            ::unlink(m_temporary.c_str());
        }
        m_area->forget(std::exchange(m_temporary, std::string()));
    }

    std::shared_ptr<StagingArea> m_area;
    std::string m_target;
    std::string m_temporary;
    std::string m_fromDataFolder;
    std::shared_ptr<UniqueFd> m_dataFolder;
    UniqueFd m_fd;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_buffered = 0;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

std::unique_ptr<StagedFile> StagingArea::stage(std::string_view target)
{
    return std::make_unique<PosixStagedFile>(shared_from_this(), target);
}

std::shared_ptr<UniqueFd> StagingArea::dataFolderOf(const std::string& target)
{
    const std::size_t start = nameStart(target);
    const std::size_t folderStart = start >= 2 ? target.rfind('/', start - 2) : std::string::npos;
    if (folderStart == std::string::npos) {
        return nullptr;
    }
    const std::string dataFolder = target.substr(0, folderStart + 1);
    const std::lock_guard lock(m_mutex);
    std::weak_ptr<UniqueFd>& known = m_dataFolders[dataFolder];
    if (auto handle = known.lock()) {
        return handle;
    }
    auto handle =
        std::make_shared<UniqueFd>(::open(dataFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!handle->valid()) {
        return nullptr; // then removed by its path, as a last resort
    }
    known = handle;
    return handle;
}

void StagingArea::forget(const std::string& temporary) noexcept
{
    const std::lock_guard lock(m_mutex);
    m_live.erase(temporary);
}

void StagingArea::removeLeftovers(std::string_view target) noexcept
{
    struct DirCloser
    {
        void operator()(DIR* dir) const noexcept { ::closedir(dir); }
    };
    try {
        const std::string folder = folderOf(target);
        const std::string prefix = temporaryPrefix(target);
        const std::string base(target.substr(0, nameStart(target)));
        const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
        if (!dir) {
            return;
        }
        const int handle = ::dirfd(dir.get());
        const std::lock_guard lock(m_mutex);
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string_view name(entry->d_name);
            struct stat info
            {};
            if (isTemporaryOf(name, prefix) && !m_live.contains(base + std::string(name)) &&
                ::fstatat(handle, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(info.st_mode)) {
                ::unlinkat(handle, entry->d_name, 0);
            }
        }
    } catch (...) {
        // No memory to look: the leftovers wait for the next run.
    }
}

} // namespace kqget
