#include "platform/run_lock.h"

#include "update/run_error.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kqget {

namespace {

class HeldFolders final : public RunLock
{
public:
    std::vector<std::unique_ptr<FolderLock>> held;
};

} // namespace

std::unique_ptr<RunLock> lockRunFolders(std::string_view logPath, std::string_view dataFolder)
{
    auto lock = std::make_unique<HeldFolders>();
    const std::pair<std::string, std::string_view> claims[] = {
        {std::string(dataFolder), "data folder"}, {folderOfLog(logPath), "the log's folder"}};
    for (const auto& [folder, what] : claims) {
        std::unique_ptr<FolderLock> claim = openFolderLock(folder);
        // The log in the data folder: a second lock of the run's own would
        // refuse it.
        if (!claim || std::ranges::any_of(lock->held, [&](const auto& held) {
                return held->identity == claim->identity;
            })) {
            continue;
        }
        if (!claim->take()) {
            throw RunError(ErrorNumber::RunUnderWay,
                           "cannot run on " + std::string(what) + " '" + folder +
                               "': another run of kqget is under way there; wait for it to end");
        }
        lock->held.push_back(std::move(claim));
    }
    return lock;
}

} // namespace kqget
