#pragma once

#include "update/file_system_port.h"

#include <memory>

namespace kqget {

class StagingArea;

// The run's file system on POSIX.
class LocalFileSystem final : public FileSystemPort
{
public:
    LocalFileSystem();

    CardEntries searchCardEntries(std::string_view dataFolder, char letter) override;
    bool isDirectory(std::string_view path) override;
    std::uint64_t fileSize(std::string_view path) noexcept override;
    std::unique_ptr<StagedFile> stageFile(std::string_view path) override;
    void removeLeftovers(std::string_view path) noexcept override;
    std::unique_ptr<LogFile> createLog(std::string_view path) override;
    char separator() const noexcept override { return '/'; }

private:
    std::shared_ptr<StagingArea> m_staging;
};

} // namespace kqget
