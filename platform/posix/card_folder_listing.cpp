#include "platform/posix/card_folder_listing.h"

#include "platform/posix/unique_fd.h"

#include <cstddef>
#include <dirent.h>
#include <fcntl.h>

namespace kqget {

namespace {

// A card folder holds a few entries: one read of this size takes them all.
constexpr std::size_t kListingBytes = 32 * 1024;

} // namespace

void CardFolderListing::list(std::string_view folder)
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
        // Read on to the end the system reports: a file system may hand a
        // folder over in reads shorter than the buffer (FUSE file systems
        // give what their daemon sends), so a short read does not mean the end.
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
