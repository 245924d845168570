#pragma once

#include "platform/posix/unique_fd.h"
#include "update/file_system_port.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace kqget {

// A temporary file in the data folder, removed unless renamed into place;
// beside the card file where its card folder is on another file system.
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
    std::string temporaryPath() const override { return m_temporary; }

private:
    // Creates a file of a fresh temporary name in `folder`, with the mode
    // the card file is to have.
    void create(const std::string& folder, struct stat& created);
    int adoptOwnership(const struct stat& created, const struct stat* folder);

    std::string m_target;
    std::string m_temporary;
    UniqueFd m_fd;
    unsigned m_newFileMode;
    std::optional<struct stat> m_old; // the card file replaced, if a plain file
};

} // namespace kqget
