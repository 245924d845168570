#pragma once

#include "platform/posix/unique_fd.h"
#include "platform/posix/wine_paths.h"
#include "update/file_system_port.h"

#include <memory>
#include <string>

namespace kqget {

// The run's file system on POSIX. A path typed as a Windows path (the card
// product's own, under Wine) is found through the Wine prefix: the run forms
// and logs its card paths as typed, with '\'.
class LocalFileSystem final : public FileSystemPort
{
public:
    LocalFileSystem();

    CardEntries searchCardEntries(std::string_view dataFolder, char letter) override;
    bool isDirectory(std::string_view path) override;
    FileStamp fileStamp(std::string_view path) noexcept override;
    std::unique_ptr<StagedFile> stageFile(std::string_view path) override;
    std::unique_ptr<LogFile> createLog(std::string_view path) override;
    std::unique_ptr<RunLock> lockRun(std::string_view logPath,
                                     std::string_view dataFolder) override;
    char separatorFor(std::string_view dataFolder) const noexcept override
    {
        return WinePaths::isWindowsPath(dataFolder) ? '\\' : '/';
    }

private:
    const WinePaths m_wine;
    // The data folder of the run under way, whose listings sweep.
    std::string m_lockedFolder;

    // A path as the system takes it: below the folder last listed, relative
    // to it, so that looking at a card file costs the kernel two components
    // instead of the whole path; anything else as it is.
    struct SystemPath;
    bool toSystemPath(std::string_view path, SystemPath& into) const noexcept;

    // The folder last listed, held open (the run's thread only).
    std::string m_listedFolder;
    UniqueFd m_listedFd;
};

} // namespace kqget
