#include "platform/posix/local_file_system.h"

#include "platform/card_name_matcher.h"
#include "platform/posix/posix_log_file.h"
#include "platform/posix/process_umask.h"
#include "platform/posix/staging_area.h"
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

mode_t newFileMode()
{
    return static_cast<mode_t>(0666 & ~currentUmask());
}

} // namespace

LocalFileSystem::LocalFileSystem() : m_staging(std::make_shared<StagingArea>(newFileMode())) {}

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
    return m_staging->stage(path);
}

void LocalFileSystem::removeLeftovers(std::string_view path) noexcept
{
    m_staging->removeLeftovers(path);
}

std::unique_ptr<LogFile> LocalFileSystem::createLog(std::string_view path)
{
    return std::make_unique<PosixLogFile>(path);
}

} // namespace kqget
