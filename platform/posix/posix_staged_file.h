#pragma once

#include "platform/posix/unique_fd.h"
#include "update/file_system_port.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace kqget {

// A card file's new content, written into a file that has no name yet where
// the file system allows it (O_TMPFILE): a run killed before its end leaves
// nothing behind, and a new card file gets its name in one step, in its own
// folder. A replaced file, or a file system without unnamed files, goes
// through a temporary name in the data folder, renamed into place, which the
// next run removes if a kill left it; beside the card file where its card
// folder is on another file system.
class PosixStagedFile final : public StagedFile
{
public:
    // `newFileMode`: what the umask leaves of 0666. Throws RunError naming
    // the card file.
    PosixStagedFile(std::string_view target, unsigned newFileMode);
    ~PosixStagedFile() override;
    PosixStagedFile(const PosixStagedFile&) = delete;
    PosixStagedFile& operator=(const PosixStagedFile&) = delete;

    void write(std::string_view bytes) override;
    void close() override;
    void commit() override;
    std::string temporaryPath() const override;

private:
    // Creates a file of a fresh temporary name in `folder`, with the mode
    // the card file is to have.
    void create(const std::string& folder, struct stat& created);
    // Gives the unnamed file the temporary name `m_temporary` in `folder`.
    bool link(const std::string& folder);
    int adoptOwnership(const struct stat& created, const struct stat* folder);

    std::string m_target;
    std::string m_temporary;
    UniqueFd m_fd;
    bool m_unnamed = false; // no name yet: the file lives while m_fd is open
    unsigned m_newFileMode;
    std::optional<struct stat> m_old; // the card file replaced, if a plain file
};

} // namespace kqget
