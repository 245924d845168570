#pragma once

#include "update/file_system_port.h"

#include <memory>

namespace kqget {

// The run's file system on Windows, over the wide API: paths are UTF-8 inside
// and UTF-16 at the system, so no card name is lost to a code page.
class Win32FileSystem final : public FileSystemPort
{
public:
    CardEntries searchCardEntries(std::string_view dataFolder, char letter) override;
    bool isDirectory(std::string_view path) override;
    std::uint64_t fileSize(std::string_view path) noexcept override;
    std::unique_ptr<StagedFile> stageFile(std::string_view path) override;
    std::unique_ptr<LogFile> createLog(std::string_view path) override;
    std::unique_ptr<RunLock> lockRun(std::string_view logPath,
                                     std::string_view dataFolder) override;
    char separator() const noexcept override { return '\\'; }

private:
    // The data folder of the run under way, whose search of A sweeps.
    std::string m_lockedFolder;
};

} // namespace kqget
