#include "platform/posix/staging_area.h"

#include "platform/posix/posix_staged_file.h"
#include "platform/posix/temporary_name.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kqget {

namespace {

// No more bodies are written at once than fetches run.
constexpr std::size_t kSpareBuffers = 16;

// Removes a leftover of the listing, a regular file only, never followed.
void removeLeftover(const std::string& folder, const CardFolderListing::Entry& entry)
{
    const std::string path = folder + entry.name;
    struct stat info
    {};
    if (entry.type == DT_REG ||
        (entry.type == DT_UNKNOWN && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))) {
        ::unlink(path.c_str());
    }
}

// The data folder of a card file's path, with its '/' ("DATA/ID/ID.xml"
// gives "DATA/"); empty when the path names none.
std::string_view dataFolderPart(std::string_view target) noexcept
{
    const std::size_t start = nameStart(target);
    const std::size_t folderStart = start >= 2 ? target.rfind('/', start - 2) : std::string::npos;
    return folderStart == std::string::npos ? std::string_view()
                                            : target.substr(0, folderStart + 1);
}

} // namespace

StagingArea::StagingArea(unsigned newFileMode)
    : m_newFileMode(newFileMode), m_root(::geteuid() == 0)
{}

std::unique_ptr<StagedFile> StagingArea::stage(std::string_view target)
{
    return std::make_unique<PosixStagedFile>(shared_from_this(), target);
}

std::shared_ptr<UniqueFd> StagingArea::dataFolderOf(const std::string& target)
{
    const std::string dataFolder(dataFolderPart(target));
    if (dataFolder.empty()) {
        return nullptr;
    }
    const std::lock_guard lock(m_mutex);
    std::weak_ptr<UniqueFd>& known = m_dataFolders[dataFolder];
    if (auto handle = known.lock()) {
        return handle;
    }
    auto handle =
        std::make_shared<UniqueFd>(::open(dataFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!handle->valid()) {
        return nullptr; // then removed by its path, as a last resort
    }
    known = handle;
    m_lastDataFolder = handle;
    return handle;
}

// Asked once for each data folder: its card folders are on its file system.
bool StagingArea::readsFill(std::string_view target)
{
    std::string_view dataFolder = dataFolderPart(target);
    if (dataFolder.empty()) {
        dataFolder = ".";
    }
    if (const auto known = m_readsFill.find(dataFolder); known != m_readsFill.end()) {
        return known->second;
    }
    std::string path(dataFolder);
    const bool fills = readsFillOnFileSystemOf(path);
    m_readsFill.emplace(std::move(path), fills);
    return fills;
}

void StagingArea::forget(const std::string& temporary) noexcept
{
    const std::lock_guard lock(m_mutex);
    m_live.erase(temporary);
}

std::unique_ptr<char[]> StagingArea::takeBuffer()
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_spareBuffers.empty()) {
            std::unique_ptr<char[]> buffer = std::move(m_spareBuffers.back());
            m_spareBuffers.pop_back();
            return buffer;
        }
    }
    return std::make_unique_for_overwrite<char[]>(kGatherBytes);
}

void StagingArea::giveBack(std::unique_ptr<char[]> buffer) noexcept
{
    const std::lock_guard lock(m_mutex);
    if (m_spareBuffers.size() < kSpareBuffers) {
        try {
            m_spareBuffers.push_back(std::move(buffer));
        } catch (...) {
            // No room to keep it: it goes.
        }
    }
}

void StagingArea::beginRun() noexcept
{
    const std::lock_guard lock(m_mutex);
    m_listedFor.clear();
    m_otherFileToSweep = false;
}

void StagingArea::removeLeftovers(std::string_view target) noexcept
{
    try {
        const std::string_view folder = target.substr(0, nameStart(target));
        const std::string prefix = temporaryPrefix(target);
        // Known as ours or not, under the lock that a file is created under.
        const std::lock_guard lock(m_mutex);
        if (m_otherFileToSweep && folder == m_listing.folder() && target != m_listedFor) {
            m_otherFileToSweep = false;
        } else {
            m_listedFor.clear(); // it stands for no file while it is made
            m_listing.list(folder, readsFill(target));
            m_listedFor.assign(target);
            m_otherFileToSweep = true;
        }
        const std::string& listed = m_listing.folder();
        std::erase_if(m_listing.entries(), [&](const CardFolderListing::Entry& entry) {
            if (!isTemporaryOf(entry.name, prefix) || m_live.contains(listed + entry.name)) {
                return false;
            }
            removeLeftover(listed, entry);
            return true;
        });
    } catch (...) {
        // No memory to look: the leftovers wait for the next run.
        beginRun();
    }
}

std::optional<bool> StagingArea::listedPresent(std::string_view target)
{
    const std::lock_guard lock(m_mutex);
    if (!m_listing.complete() || target != m_listedFor) {
        return std::nullopt;
    }
    return m_listing.find(target.substr(nameStart(target))) != nullptr;
}

std::optional<bool> StagingArea::listedIntact(std::string_view target, std::string_view temporary,
                                              ino_t inode, std::uint64_t closedSerial)
{
    const std::lock_guard lock(m_mutex);
    if (!m_listing.complete() || target != m_listedFor || m_listing.serial() <= closedSerial) {
        return std::nullopt;
    }
    const CardFolderListing::Entry* entry = m_listing.find(temporary.substr(nameStart(temporary)));
    return entry != nullptr && entry->inode == inode;
}

std::uint64_t StagingArea::listingSerial()
{
    const std::lock_guard lock(m_mutex);
    return m_listing.serial();
}

} // namespace kqget
