#pragma once

#include "platform/posix/wine_paths.h"
#include "update/content_check_port.h"
#include "update/file_system_port.h"

#include <memory>
#include <string>

namespace kqget {

// The file system with a data folder typed as a Windows path (the card
// product's own, under Wine) found through the Wine prefix. The run forms
// and logs the card paths as typed, with '\'; each is found here. A failure
// names the path as typed and the Linux path tried. Any other path goes to
// `inner` as it is.
class WinePathFileSystem final : public FileSystemPort
{
public:
    WinePathFileSystem(std::unique_ptr<FileSystemPort> inner,
                       std::shared_ptr<const WinePaths> wine);

    CardEntries searchCardEntries(std::string_view dataFolder, char letter) override;
    bool isDirectory(std::string_view path) override;
    std::uint64_t fileSize(std::string_view path) noexcept override;
    FileStamp fileStamp(std::string_view path) noexcept override;
    std::unique_ptr<StagedFile> stageFile(std::string_view path) override;
    std::unique_ptr<RunLock> lockRun(std::string_view logPath,
                                     std::string_view dataFolder) override;
    std::unique_ptr<LogFile> createLog(std::string_view path) override;
    char separator() const noexcept override { return m_inner->separator(); }
    char separatorFor(std::string_view dataFolder) const noexcept override;

private:
    // Calls `action` with the path the system takes, telling a failure with
    // the path as typed.
    template <typename Action> auto onSystemPath(std::string_view path, Action&& action);

    std::unique_ptr<FileSystemPort> m_inner;
    std::shared_ptr<const WinePaths> m_wine;
};

// The look into card files, with Windows paths found as above.
class WinePathContentCheck final : public ContentCheckPort
{
public:
    WinePathContentCheck(std::unique_ptr<ContentCheckPort> inner,
                         std::shared_ptr<const WinePaths> wine);

    std::optional<std::string> fileDamage(std::string_view path, CardFileKind kind) const override;

private:
    std::unique_ptr<ContentCheckPort> m_inner;
    std::shared_ptr<const WinePaths> m_wine;
};

} // namespace kqget
