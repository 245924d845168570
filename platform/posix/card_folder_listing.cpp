#include "platform/posix/card_folder_listing.h"

#include "platform/posix/unique_fd.h"

#include <climits>
#include <cstddef>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>

namespace kqget {

namespace {

// A card folder holds a few entries: one read of this size takes them all.
constexpr std::size_t kListingBytes = 32 * 1024;
constexpr std::size_t kLongestRecord = (offsetof(dirent64, d_name) + NAME_MAX + 1 + 7) / 8 * 8;

} // namespace

void CardFolderListing::list(std::string_view folder, bool readsFill)
{
    ++m_serial;
    m_folder.assign(folder);
    m_entries.clear();
    m_complete = false;
    const UniqueFd handle(
        ::open(m_folder.empty() ? "." : m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle.valid()) {
        return;
    }
    if (!m_buffer) {
        m_buffer = std::make_unique_for_overwrite<char[]>(kListingBytes);
    }
    for (;;) {
        const ssize_t read = ::getdents64(handle.get(), m_buffer.get(), kListingBytes);
        if (read <= 0) {
            m_complete = read == 0;
            return;
        }
        for (ssize_t at = 0; at < read;) {
            const auto* entry = reinterpret_cast<const dirent64*>(m_buffer.get() + at);
            at += entry->d_reclen;
            const std::string_view name(entry->d_name);
            if (name != "." && name != "..") {
                m_entries.push_back({std::string(name), entry->d_ino, entry->d_type});
            }
        }
        // The file systems that fill a read with every entry that fits end
        // a folder with a short read; elsewhere (FUSE gives what its daemon
        // sends) the end is the read that returns nothing.
        if (readsFill && static_cast<std::size_t>(read) + kLongestRecord <= kListingBytes) {
            m_complete = true;
            return;
        }
    }
}

bool readsFillOnFileSystemOf(const std::string& folder) noexcept
{
    struct statfs system
    {};
    if (::statfs(folder.c_str(), &system) != 0) {
        return false;
    }
    switch (system.f_type) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 as well
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
        return true;
    default:
        return false;
    }
}

const CardFolderListing::Entry* CardFolderListing::find(std::string_view name) const noexcept
{
    for (const Entry& entry : m_entries) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace kqget
