#include "platform/posix/leftover_sweep.h"

#include "platform/posix/temporary_name.h"
#include "platform/posix/unique_fd.h"

#include <climits>
#include <cstddef>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kqget {

namespace {

// A card folder holds a few entries: one read of this size takes them all.
constexpr std::size_t kListingBytes = 32 * 1024;
constexpr std::size_t kPageBytes = 4096;
constexpr std::size_t kLongestRecord = (offsetof(dirent64, d_name) + NAME_MAX + 1 + 7) / 8 * 8;

} // namespace

void LeftoverSweep::sweep(std::string_view target, int dataFolder,
                          const std::function<bool(const std::string&)>& isOwn)
{
    const std::size_t start = nameStart(target);
    const std::string prefix = temporaryPrefix(target);
    const std::string_view folder = target.substr(0, start);
    if (folder == m_folder && prefix != m_listedFor && !m_listedFor.empty()) {
        m_listedFor.clear(); // the folder's other file: served once from the listing
    } else {
        m_folder.assign(folder);
        m_listedFor = prefix;
        list(dataFolder, isOwn);
    }
    std::erase_if(m_leftovers, [&](const Leftover& leftover) {
        if (!isTemporaryOf(leftover.name, prefix)) {
            return false;
        }
        remove(leftover, dataFolder);
        return true;
    });
}

void LeftoverSweep::list(int dataFolder, const std::function<bool(const std::string&)>& isOwn)
{
    m_leftovers.clear();
    // The card folder's name in the data folder: what lies between the last
    // two separators.
    const std::string_view inner = m_folder.empty()
                                       ? std::string_view()
                                       : std::string_view(m_folder).substr(0, m_folder.size() - 1);
    m_cardFolder.assign(inner.substr(nameStart(inner)));
    if (m_cardFolder.empty()) {
        dataFolder = -1;
    }
    const UniqueFd folder(dataFolder >= 0 ? ::openat(dataFolder, m_cardFolder.c_str(),
                                                     O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                          : ::open(m_folder.empty() ? "." : m_folder.c_str(),
                                                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) {
        return;
    }
    if (!m_buffer) {
        m_buffer = std::make_unique_for_overwrite<char[]>(kListingBytes);
    }
    for (;;) {
        const ssize_t read = ::getdents64(folder.get(), m_buffer.get(), kListingBytes);
        if (read <= 0) {
            return; // the end, or a failure: what is not seen waits for the next run
        }
        for (ssize_t at = 0; at < read;) {
            const auto* entry = reinterpret_cast<const dirent64*>(m_buffer.get() + at);
            at += entry->d_reclen;
            const std::string_view name(entry->d_name);
            if (looksTemporary(name) && !isOwn(m_folder + std::string(name))) {
                m_leftovers.push_back({std::string(name), entry->d_type});
            }
        }
        // While entries remain, a read fills the buffer, or on some file
        // systems a page of it, up to the last entry that fits: room left
        // for the longest one means the folder came to its end.
        if (static_cast<std::size_t>(read) + kLongestRecord <= kPageBytes) {
            return;
        }
    }
}

void LeftoverSweep::remove(const Leftover& leftover, int dataFolder) const noexcept
{
    try {
        const std::string path =
            dataFolder >= 0 ? m_cardFolder + "/" + leftover.name : m_folder + leftover.name;
        const int base = dataFolder >= 0 ? dataFolder : AT_FDCWD;
        if (leftover.type != DT_REG) {
            struct stat info
            {};
            // A file system that does not say: looked at, never followed.
            if (leftover.type != DT_UNKNOWN ||
                ::fstatat(base, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(info.st_mode)) {
                return;
            }
        }
        ::unlinkat(base, path.c_str(), 0);
    } catch (...) {
        // No memory for the name: the leftover waits for the next run.
    }
}

} // namespace kqget
