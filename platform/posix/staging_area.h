#pragma once

#include "platform/posix/card_folder_listing.h"
#include "platform/posix/unique_fd.h"
#include "update/file_system_port.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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
    // A transfer hands a body on in pieces of 16 KiB; gathered, a card file
    // of a few tens of KB goes to the system in one write.
    static constexpr std::size_t kGatherBytes = 128 * 1024;

    explicit StagingArea(unsigned newFileMode);

    // Throws RunError naming the card file.
    std::unique_ptr<StagedFile> stage(std::string_view target);

    // Removes the regular files in the card file's folder whose names have
    // exactly its temporary form and are not this process's own. Links and
    // anything else are left alone; a failure only leaves a leftover. The
    // folder is listed once for both of its card files: no other run adds
    // to it meanwhile (one run at a time per data folder), and this
    // process's own files are known when it is listed.
    void removeLeftovers(std::string_view target) noexcept;

    // A run begins: nothing listed before speaks for it.
    void beginRun() noexcept;

private:
    friend class PosixStagedFile;

    // A handle on the folder two levels above `target`, shared by every file
    // staged under it; none when it cannot be opened.
    std::shared_ptr<UniqueFd> dataFolderOf(const std::string& target);
    void forget(const std::string& temporary) noexcept;
    // Whether a short read ends a listing of `target`'s folder; under m_mutex.
    bool readsFill(std::string_view target);

    // The gathering buffers of bodies being written, kept for the next ones.
    std::unique_ptr<char[]> takeBuffer();
    void giveBack(std::unique_ptr<char[]> buffer) noexcept;

    // What the listing made at `target`'s turn says, where it can: whether
    // the card file was there, and whether a staged file closed before it
    // (`closedSerial`) was still there, the same file.
    std::optional<bool> listedPresent(std::string_view target);
    std::optional<bool> listedIntact(std::string_view target, std::string_view temporary,
                                     ino_t inode, std::uint64_t closedSerial);
    std::uint64_t listingSerial();

    const unsigned m_newFileMode;
    // Whether files made here must be given to their folder's owner.
    const bool m_root;
    std::mutex m_mutex;
    std::set<std::string> m_live;
    std::map<std::string, std::weak_ptr<UniqueFd>> m_dataFolders;
    std::map<std::string, bool, std::less<>> m_readsFill;
    // The data folder last used, held so that it is not opened anew for
    // every body once the bodies before have gone.
    std::shared_ptr<UniqueFd> m_lastDataFolder;
    std::vector<std::unique_ptr<char[]>> m_spareBuffers;
    // The card folder listed last, the card file it was listed for, and
    // whether its other file may still be swept from it.
    CardFolderListing m_listing;
    std::string m_listedFor;
    bool m_otherFileToSweep = false;
};

} // namespace kqget
