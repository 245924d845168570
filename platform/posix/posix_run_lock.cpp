#include "platform/posix/posix_run_lock.h"

#include "platform/posix/unique_fd.h"
#include "platform/run_under_way.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace kqget {

namespace {

class PosixRunLock final : public RunLock
{
public:
    std::vector<UniqueFd> held;
};

} // namespace

std::string folderOfLog(std::string_view logPath)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(std::string(logPath), error);
    return error ? std::string(".") : absolute.parent_path().string();
}

std::unique_ptr<RunLock> lockRunFolders(std::string_view logPath, std::string_view dataFolder)
{
    auto lock = std::make_unique<PosixRunLock>();
    const struct
    {
        std::string folder;
        bool isDataFolder;
    } claims[] = {{std::string(dataFolder), true}, {folderOfLog(logPath), false}};
    std::vector<std::pair<dev_t, ino_t>> heldFolders;
    for (const auto& claim : claims) {
        UniqueFd fd(::open(claim.folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
        struct stat info
        {};
        if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
            continue;
        }
        const std::pair identity{info.st_dev, info.st_ino};
        if (std::ranges::find(heldFolders, identity) != heldFolders.end()) {
            continue; // a second flock of this process's own would refuse it
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                throw runUnderWay(claim.folder, claim.isDataFolder);
            }
            // A file system without locks (some network ones) leaves the
            // run unguarded rather than impossible.
            continue;
        }
        heldFolders.push_back(identity);
        lock->held.push_back(std::move(fd));
    }
    return lock;
}

} // namespace kqget
