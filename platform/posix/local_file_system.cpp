#include "platform/posix/local_file_system.h"

#include "platform/card_name_matcher.h"
#include "platform/posix/posix_log_file.h"
#include "platform/posix/process_umask.h"
#include "platform/posix/unique_fd.h"
#include "platform/system_error_text.h"
#include "update/run_error.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

mode_t newFileMode()
{
    return static_cast<mode_t>(0666 & ~currentUmask());
}

std::string temporaryPattern(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string pattern = path.substr(0, nameStart);
    pattern.append(".").append(path, nameStart).append(".kqget-XXXXXX");
    return pattern;
}

// A temporary file beside the card file, removed unless renamed into place.
class PosixStagedFile final : public StagedFile
{
public:
    PosixStagedFile(std::string_view target, unsigned mode)
        : m_target(target), m_temporary(temporaryPattern(m_target))
    {
        m_fd = UniqueFd(::mkstemp(m_temporary.data()));
        if (!m_fd.valid()) {
            const int error = errno;
            m_temporary.clear(); // nothing was created
            failStore(m_target, "cannot create a temporary file beside it", error);
        }
        if (::fchmod(m_fd.get(), static_cast<mode_t>(mode)) != 0) {
            const int error = errno;
            m_fd.reset();
            ::unlink(m_temporary.c_str()); // no destructor after a throwing constructor
            failStore(m_target, "cannot set the mode of " + m_temporary, error);
        }
        struct stat info
        {};
        ::fstat(m_fd.get(), &info);
        m_device = info.st_dev;
        m_inode = info.st_ino;
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

    void write(std::string_view bytes) override
    {
        if (const int error = writeAll(m_fd, bytes)) {
            failStore(m_target, "cannot write " + m_temporary, error);
        }
    }

    void close() override
    {
        if (m_fd.valid() && ::close(m_fd.release()) != 0) {
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

    bool intact() const noexcept override
    {
        struct stat info
        {};
        return !m_temporary.empty() && ::lstat(m_temporary.c_str(), &info) == 0 &&
               info.st_dev == m_device && info.st_ino == m_inode;
    }

private:
    std::string m_target;
    std::string m_temporary;
    UniqueFd m_fd;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace

LocalFileSystem::LocalFileSystem() : m_newFileMode(newFileMode()) {}

CardEntries LocalFileSystem::searchCardEntries(std::string_view dataFolder, char letter)
{
    const std::string folder(dataFolder);
    UniqueDir dir(::opendir(folder.c_str()));
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
            names.add(name);
        }
    }
    names.sort(cardNameLess);
    return names;
}

bool LocalFileSystem::isDirectory(std::string_view path)
{
    const std::string target(path);
    struct stat info
    {};
    if (::stat(target.c_str(), &info) == 0) {
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
                       "cannot examine '" + target + "': " + systemErrorText(errno));
    }
}

std::uint64_t LocalFileSystem::fileSize(std::string_view path) noexcept
{
    std::string target;
    try {
        target.assign(path);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    struct stat info
    {};
    if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::unique_ptr<StagedFile> LocalFileSystem::stageFile(std::string_view path)
{
    return std::make_unique<PosixStagedFile>(path, m_newFileMode);
}

std::unique_ptr<LogFile> LocalFileSystem::createLog(std::string_view path)
{
    return std::make_unique<PosixLogFile>(path);
}

} // namespace kqget
