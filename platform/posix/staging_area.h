#pragma once

#include "platform/posix/leftover_sweep.h"
#include "platform/posix/unique_fd.h"
#include "update/file_system_port.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kqget {

// Where the card files' new contents wait, as ".NAME.kqget-XXXXXX" beside
// each card file. It knows which of them are this process's own, so that a
// sweep for what an earlier, killed run left behind never takes one that is
// waiting for its turn. A staged file is removed through a handle on the
// folder that holds its card folder (the data folder), so a data folder
// renamed or moved during a run keeps none of them.
class StagingArea : public std::enable_shared_from_this<StagingArea>
{
public:
    explicit StagingArea(unsigned newFileMode);

    // Throws RunError naming the card file.
    std::unique_ptr<StagedFile> stage(std::string_view target);

    // Removes the regular files in the card file's folder whose names have
    // exactly its temporary form and are not this process's own. Links and
    // anything else are left alone; a failure only leaves a leftover.
    void removeLeftovers(std::string_view target) noexcept;

private:
    friend class PosixStagedFile;

    // A handle on the folder two levels above `target`, shared by every file
    // staged under it; none when it cannot be opened.
    std::shared_ptr<UniqueFd> dataFolderOf(const std::string& target);
    void forget(const std::string& temporary) noexcept;

    // The gathering buffers of bodies being written, kept for the next ones.
    std::unique_ptr<char[]> takeBuffer();
    void giveBack(std::unique_ptr<char[]> buffer) noexcept;

    const unsigned m_newFileMode;
    // Whether files made here must be given to their folder's owner.
    const bool m_root;
    std::mutex m_mutex;
    std::set<std::string> m_live;
    std::map<std::string, std::weak_ptr<UniqueFd>> m_dataFolders;
    // The data folder last used, held so that it is not opened anew for
    // every body once the bodies before have gone.
    std::shared_ptr<UniqueFd> m_lastDataFolder;
    std::vector<std::unique_ptr<char[]>> m_spareBuffers;
    LeftoverSweep m_sweep; // the run's thread only
};

} // namespace kqget
