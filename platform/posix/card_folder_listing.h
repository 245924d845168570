#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kqget {

// A card folder's entries as one listing found them: what a killed run left
// there, and whether a card file or a staged file stood there then.
class CardFolderListing
{
public:
    struct Entry
    {
        std::string name;
        ino_t inode;
        unsigned char type; // DT_REG, DT_UNKNOWN, ...
    };

    // Lists `folder` (its path, ending in '/'). A folder that cannot be
    // opened or read lists what was read of it, and is not complete().
    // `readsFill`: its file system fills every read with all the entries
    // that fit (readsFillOnFileSystemOf()), so a short read is the end.
    void list(std::string_view folder, bool readsFill);
    bool complete() const noexcept { return m_complete; }

    const std::string& folder() const noexcept { return m_folder; }
    // Counts the listings made, so that what changed before one can tell.
    std::uint64_t serial() const noexcept { return m_serial; }
    const Entry* find(std::string_view name) const noexcept;
    std::vector<Entry>& entries() noexcept { return m_entries; }

private:
    std::string m_folder;
    std::uint64_t m_serial = 0;
    bool m_complete = false;
    std::vector<Entry> m_entries;
    std::unique_ptr<char[]> m_buffer;
};

// Whether the file system holding `folder` hands a folder's entries over
// filling each read as far as they go: the kernel's own local file systems
// (ext2/3/4, XFS, Btrfs, tmpfs) do; anything else is read to an empty read.
bool readsFillOnFileSystemOf(const std::string& folder) noexcept;

} // namespace kqget
