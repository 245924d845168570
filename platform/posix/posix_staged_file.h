#pragma once

#include "platform/posix/unique_fd.h"
#include "update/file_system_port.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace kqget {

class StagingArea;

// A temporary file beside the card file, removed unless renamed into place.
class PosixStagedFile final : public StagedFile
{
public:
    // Throws RunError naming the card file.
    PosixStagedFile(std::shared_ptr<StagingArea> area, std::string_view target);
    ~PosixStagedFile() override;
    PosixStagedFile(const PosixStagedFile&) = delete;
    PosixStagedFile& operator=(const PosixStagedFile&) = delete;

    void write(std::string_view bytes) override;
    void close() override;
    void commit() override;
    bool intact() const noexcept override;
    std::string temporaryPath() const override { return m_temporary; }

private:
    int adoptOwnership(const struct stat& created, const std::optional<struct stat>& old);
    bool folderOwner(struct stat& folder) const;
    void flush();
    void writeOut(std::string_view bytes);
    void removeTemporary() noexcept;

    std::shared_ptr<StagingArea> m_area;
    std::string m_target;
    std::string m_temporary;
    std::string m_fromDataFolder;
    std::shared_ptr<UniqueFd> m_dataFolder;
    UniqueFd m_fd;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_buffered = 0;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    // The card folder's listings made before it was closed.
    std::uint64_t m_closedSerial = std::numeric_limits<std::uint64_t>::max();
};

} // namespace kqget
