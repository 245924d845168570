#include "platform/posix/wine_path_ports.h"

#include "update/run_error.h"

namespace kqget {

namespace {

// `error` with the Linux path it names in quotes shown as the path typed.
RunError namingTypedPath(const RunError& error, std::string_view typed, const std::string& linux,
                         const WinePaths& wine)
{
    std::string description = error.what();
    const std::string quoted = "'" + linux + "'";
    if (const std::size_t at = description.find(quoted); at != std::string::npos) {
        description.replace(at, quoted.size(),
                            "'" + std::string(typed) + "' (as " + quoted + " in the Wine prefix " +
                                wine.prefix() + ")");
    }
    return RunError(error.number(), description, error.reach());
}

} // namespace

WinePathFileSystem::WinePathFileSystem(std::unique_ptr<FileSystemPort> inner,
                                       std::shared_ptr<const WinePaths> wine)
    : m_inner(std::move(inner)), m_wine(std::move(wine))
{}

template <typename Action>
auto WinePathFileSystem::onSystemPath(std::string_view path, Action&& action)
{
    if (!WinePaths::isWindowsPath(path)) {
        return action(path);
    }
    const std::string linux = m_wine->toLinux(path);
    try {
        return action(std::string_view(linux));
    } catch (const RunError& error) {
        throw namingTypedPath(error, path, linux, *m_wine);
    }
}

CardEntries WinePathFileSystem::searchCardEntries(std::string_view dataFolder, char letter)
{
    return onSystemPath(dataFolder, [&](std::string_view folder) {
        return m_inner->searchCardEntries(folder, letter);
    });
}

bool WinePathFileSystem::isDirectory(std::string_view path)
{
    return onSystemPath(path, [&](std::string_view found) { return m_inner->isDirectory(found); });
}

std::uint64_t WinePathFileSystem::fileSize(std::string_view path) noexcept
{
    return fileStamp(path).size;
}

FileStamp WinePathFileSystem::fileStamp(std::string_view path) noexcept
{
    if (!WinePaths::isWindowsPath(path)) {
        return m_inner->fileStamp(path);
    }
    try {
        return m_inner->fileStamp(m_wine->toLinux(path));
    } catch (const std::exception&) {
        return {}; // as any file that cannot be sized
    }
}

std::unique_ptr<StagedFile> WinePathFileSystem::stageFile(std::string_view path)
{
    return onSystemPath(path, [&](std::string_view found) { return m_inner->stageFile(found); });
}

std::unique_ptr<RunLock> WinePathFileSystem::lockRun(std::string_view logPath,
                                                     std::string_view dataFolder)
{
    return onSystemPath(logPath, [&](std::string_view log) {
        return onSystemPath(dataFolder,
                            [&](std::string_view folder) { return m_inner->lockRun(log, folder); });
    });
}

std::unique_ptr<LogFile> WinePathFileSystem::createLog(std::string_view path)
{
    return onSystemPath(path, [&](std::string_view found) { return m_inner->createLog(found); });
}

char WinePathFileSystem::separatorFor(std::string_view dataFolder) const noexcept
{
    return WinePaths::isWindowsPath(dataFolder) ? '\\' : m_inner->separatorFor(dataFolder);
}

WinePathContentCheck::WinePathContentCheck(std::unique_ptr<ContentCheckPort> inner,
                                           std::shared_ptr<const WinePaths> wine)
    : m_inner(std::move(inner)), m_wine(std::move(wine))
{}

std::optional<std::string> WinePathContentCheck::fileDamage(std::string_view path,
                                                            CardFileKind kind) const
{
    if (!WinePaths::isWindowsPath(path)) {
        return m_inner->fileDamage(path, kind);
    }
    return m_inner->fileDamage(m_wine->toLinux(path), kind);
}

} // namespace kqget
