#include "platform/posix/unique_fd.h"
#include "platform/run_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>

namespace kqget {

namespace {

// flock() on the folder itself; the kernel lets go when the last descriptor
// of the process closes, at a crash too.
class PosixFolderLock final : public FolderLock
{
public:
    PosixFolderLock(UniqueFd folder, const struct stat& info)
        : FolderLock(std::to_string(info.st_dev) + ':' + std::to_string(info.st_ino)),
          m_folder(std::move(folder))
    {}
    // Some network file systems have no locks.
    bool take() override
    {
        return ::flock(m_folder.get(), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
    }

private:
    UniqueFd m_folder;
};

} // namespace

std::string folderOfLog(std::string_view logPath)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(std::string(logPath), error);
    return error ? std::string(".") : absolute.parent_path().string();
}

std::unique_ptr<FolderLock> openFolderLock(const std::string& folder)
{
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    struct stat info
    {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return nullptr;
    }
    return std::make_unique<PosixFolderLock>(std::move(fd), info);
}

} // namespace kqget
