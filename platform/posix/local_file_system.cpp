#include "platform/posix/local_file_system.h"

#include "platform/card_name_matcher.h"
#include "platform/posix/posix_log_file.h"
#include "platform/posix/process_umask.h"
#include "platform/system_error_text.h"
#include "platform/posix/unique_fd.h"
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

// Removes the temporary file unless it has been renamed into place.
class TemporaryFile
{
public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!m_committed) {
            ::unlink(m_path.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    char* data() noexcept { return m_path.data(); }
    const std::string& path() const noexcept { return m_path; }
    void commit() noexcept { m_committed = true; }

private:
    std::string m_path;
    bool m_committed = false;
};

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

void LocalFileSystem::replaceFile(std::string_view path, std::string_view content)
{
    const std::string target(path);
    TemporaryFile temporary(temporaryPattern(target));
    UniqueFd fd(::mkstemp(temporary.data()));
    if (!fd.valid()) {
        const int error = errno;
        temporary.commit(); // nothing was created
        failStore(target, "cannot create a temporary file beside it", error);
    }
    if (::fchmod(fd.get(), static_cast<mode_t>(m_newFileMode)) != 0) {
        failStore(target, "cannot set the mode of " + temporary.path(), errno);
    }
    while (!content.empty()) {
        const ssize_t written = ::write(fd.get(), content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failStore(target, "cannot write " + temporary.path(), errno);
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::close(fd.release()) != 0) {
        failStore(target, "cannot close " + temporary.path(), errno);
    }
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
        failStore(target, "cannot rename " + temporary.path() + " over it", errno);
    }
    temporary.commit();
}

std::unique_ptr<LogFile> LocalFileSystem::createLog(std::string_view path)
{
    return std::make_unique<PosixLogFile>(path);
}

} // namespace kqget
