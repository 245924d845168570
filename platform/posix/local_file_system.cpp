#include "platform/posix/local_file_system.h"

#include "platform/buffered_log.h"
#include "platform/card_name_matcher.h"
#include "platform/posix/posix_staged_file.h"
#include "platform/posix/unique_fd.h"
#include "platform/run_lock.h"
#include "platform/system_error_text.h"
#include "platform/temporary_name.h"
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

// A regular file only, never what a link of that name points to; a failure
// only leaves it for the next run.
void removeLeftover(int folder, const dirent& entry)
{
    struct stat info
    {};
    if (entry.d_type == DT_REG ||
        (entry.d_type == DT_UNKNOWN &&
         ::fstatat(folder, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(info.st_mode))) {
        ::unlinkat(folder, entry.d_name, 0);
    }
}

} // namespace

LocalFileSystem::LocalFileSystem() : m_wine(WinePaths::prefixFromEnvironment()) {}

struct LocalFileSystem::SystemPath
{
    int folder = AT_FDCWD;
    std::array<char, PATH_MAX> text;
};

bool LocalFileSystem::toSystemPath(std::string_view path, SystemPath& into) const noexcept
{
    std::string linux;
    if (WinePaths::isWindowsPath(path)) {
        try {
            linux = m_wine.toLinux(path);
        } catch (const std::exception&) {
            return false; // as a path too long to be anything
        }
        path = linux;
    }
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
    const std::string folder = m_wine.toLinux(dataFolder);
    // A Windows path is named as typed and as found.
    const std::string named = "'" + std::string(dataFolder) + "'" +
                              (folder == dataFolder ? ""
                                                    : " (as '" + folder + "' in the Wine prefix " +
                                                          m_wine.prefix() + ")");
    UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueDir dir;
    if (folderFd.valid()) {
        dir.reset(::fdopendir(::fcntl(folderFd.get(), F_DUPFD_CLOEXEC, 0)));
    }
    if (!dir) {
        throw RunError(ErrorNumber::DataFolder,
                       "cannot search data folder " + named + ": " + systemErrorText(errno));
    }
    // What a killed run left goes as the run begins, which lists A first.
    const bool sweeps = letter == 'A' && folder == m_lockedFolder;
    CardEntries names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                throw RunError(ErrorNumber::DataFolder,
                               "cannot read data folder " + named + ": " + systemErrorText(errno));
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
        } else if (sweeps && isTemporaryName(name)) {
            removeLeftover(folderFd.get(), *entry);
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

FileStamp LocalFileSystem::fileStamp(std::string_view path) noexcept
{
    SystemPath target;
    struct stat info
    {};
    if (!toSystemPath(path, target) ||
        ::fstatat(target.folder, target.text.data(), &info, 0) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    return {static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec};
}

std::unique_ptr<StagedFile> LocalFileSystem::stageFile(std::string_view path)
{
    return stagePosixFile(m_wine.toLinux(path));
}

std::unique_ptr<LogFile> LocalFileSystem::createLog(std::string_view path)
{
    return openRunLog(path);
}

std::unique_ptr<RunLock> LocalFileSystem::lockRun(std::string_view logPath,
                                                  std::string_view dataFolder)
{
    m_lockedFolder = m_wine.toLinux(dataFolder);
    return lockRunFolders(logPath, m_lockedFolder);
}

} // namespace kqget
