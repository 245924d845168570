#include "platform/posix/local_file_system.h"

#include "platform/card_name_matcher.h"
#include "platform/posix/posix_log_file.h"
#include "platform/posix/unique_fd.h"
#include "platform/system_error_text.h"
#include "update/run_error.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kqget {

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

[[noreturn]] void failStore(const std::string& path, std::string_view what, int error)
{
    throw RunError(ErrorNumber::CardFile, "cannot store '" + path + "': " + std::string(what) +
                                              ": " + systemErrorText(error));
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
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = kAlphabet[z % kAlphabet.size()];
        z /= kAlphabet.size();
    }
    return suffix;
}

// ".<name>.kqget-XXXXXX" beside the card file: the same folder, so that the
// rename stays on one file system.
std::string temporaryPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string temporary = path.substr(0, nameStart);
    temporary.append(".").append(path, nameStart).append(".kqget-").append(uniqueSuffix());
    return temporary;
}

constexpr int kCreateAttempts = 100;
constexpr std::size_t kGatherBytes = 128 * 1024;

// A temporary file beside the card file, removed unless renamed into place.
class PosixStagedFile final : public StagedFile
{
public:
    explicit PosixStagedFile(std::string_view target) : m_target(target)
    {
        // Created with the mode any new file gets here (the umask or the
        // folder's default ACL applied by the system), not the private one a
        // temporary file would keep after the rename.
        for (int attempt = 0; attempt < kCreateAttempts && !m_fd.valid(); ++attempt) {
            m_temporary = temporaryPath(m_target);
            m_fd = UniqueFd(
                ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (!m_fd.valid() && errno != EEXIST) {
                break;
            }
        }
        if (!m_fd.valid()) {
            const int error = errno;
            m_temporary.clear(); // nothing was created
            failStore(m_target, "cannot create a temporary file beside it", error);
        }
    }
    ~PosixStagedFile() override
    {
        m_fd.reset();
        if (!m_temporary.empty()) {
            ::unlink(m_temporary.c_str());
        }
    }
    PosixStagedFile(const PosixStagedFile&) = delete;
    PosixStagedFile& operator=(const PosixStagedFile&) = delete;

    // A transfer hands a body on in pieces of 16 KiB; gathered, a card's
    // file of a few tens of KB goes to the system in one write.
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
            failStore(m_target, "cannot close " + m_temporary, errno);
        }
    }

    void commit() override
    {
        close();
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
            failStore(m_target, "cannot rename " + m_temporary + " over it", errno);
        }
        m_temporary.clear();
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
            failStore(m_target, "cannot write " + m_temporary, error);
        }
    }

    std::string m_target;
    std::string m_temporary;
    UniqueFd m_fd;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_buffered = 0;
};

} // namespace

struct LocalFileSystem::SystemPath
{
    int folder = AT_FDCWD;
    std::array<char, PATH_MAX> text;
};

bool LocalFileSystem::toSystemPath(std::string_view path, SystemPath& into) const noexcept
{
    // The whole path is held to the system's limit, as it would be unshortened.
    if (path.size() >= into.text.size()) {
        return false;
    }
    if (m_listedFd.valid() && path.size() > m_listedFolder.size() &&
        path.starts_with(m_listedFolder)) {
        into.folder = m_listedFd.get();
        path.remove_prefix(m_listedFolder.size());
    }
    std::copy(path.begin(), path.end(), into.text.begin());
    into.text[path.size()] = '\0';
    return true;
}

CardEntries LocalFileSystem::searchCardEntries(std::string_view dataFolder, char letter)
{
    const std::string folder(dataFolder);
    UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueDir dir;
    if (folderFd.valid()) {
        dir.reset(::fdopendir(::fcntl(folderFd.get(), F_DUPFD_CLOEXEC, 0)));
    }
    if (!dir) {
        throw RunError(ErrorNumber::DataFolder,
                       "cannot search data folder '" + folder + "': " + systemErrorText(errno));
    }
    CardEntries names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                throw RunError(ErrorNumber::DataFolder, "cannot read data folder '" + folder +
                                                            "': " + systemErrorText(errno));
            }
            break;
        }
        const std::string_view name(entry->d_name);
        if (isCardName(name, letter)) {
            // What a link points to, and entries of file systems that do not
            // say, are left for the folder test.
            const EntryType type = entry->d_type == DT_DIR ? EntryType::Folder
                                   : entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN
                                       ? EntryType::Unknown
                                       : EntryType::Other;
            names.add(name, type);
        }
    }
    names.sort(cardNameLess);
    m_listedFolder = folder;
    m_listedFd = std::move(folderFd);
    return names;
}

bool LocalFileSystem::isDirectory(std::string_view path)
{
    SystemPath target;
    if (!toSystemPath(path, target)) {
        return false; // too long to be anything
    }
    struct stat info
    {};
    if (::fstatat(target.folder, target.text.data(), &info, 0) == 0) {
        return S_ISDIR(info.st_mode);
    }
    switch (errno) {
    case ENOENT: // vanished, or a dangling link
    case ENOTDIR:
    case ELOOP: // a link that points at itself
    case ENAMETOOLONG:
        return false;
    default:
        throw RunError(ErrorNumber::CardFolder,
                       "cannot examine '" + std::string(path) + "': " + systemErrorText(errno));
    }
}

std::uint64_t LocalFileSystem::fileSize(std::string_view path) noexcept
{
    SystemPath target;
    struct stat info
    {};
    if (!toSystemPath(path, target) ||
        ::fstatat(target.folder, target.text.data(), &info, 0) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::unique_ptr<StagedFile> LocalFileSystem::stageFile(std::string_view path)
{
    return std::make_unique<PosixStagedFile>(path);
}

std::unique_ptr<LogFile> LocalFileSystem::createLog(std::string_view path)
{
    return std::make_unique<PosixLogFile>(path);
}

} // namespace kqget
