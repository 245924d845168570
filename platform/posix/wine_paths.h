#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kqget {

// The Windows card product runs on Linux under Wine, so the path it shows its
// user ("C:\users\NAME\AppData\Roaming\mlun\Data\") is one inside a Wine
// prefix. This finds such a path the way Wine does: the drive through the
// prefix's dosdevices/<letter>: link, then each component as typed where it
// exists, else the entry that matches it without regard to case (ASCII
// letters), else as typed, and everything after it too.
class WinePaths
{
public:
    // `prefix`: the Wine prefix's folder, e.g. "/home/NAME/.wine".
    explicit WinePaths(std::string prefix);

    // WINEPREFIX, else ~/.wine, as Wine itself chooses.
    static std::string prefixFromEnvironment();

    // A drive letter and ':', alone or followed by '\' or '/'.
    static bool isWindowsPath(std::string_view path) noexcept;

    // The Linux path of the Windows path `path`: '\' and '/' both separate,
    // "." and ".." are resolved on the text (never above the drive), and a
    // trailing separator stays. Any other path comes back as it is. May be
    // called from several threads at once.
    std::string toLinux(std::string_view path) const;

    const std::string& prefix() const noexcept { return m_prefix; }

private:
    std::string m_prefix;

    // Folders found, by their Windows path as typed up to them, so that the
    // card paths below a data folder do not look it up again.
    mutable std::mutex m_mutex;
    mutable std::unordered_map<std::string, std::string> m_foundFolders;
};

} // namespace kqget
