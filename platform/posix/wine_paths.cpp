#include "platform/posix/wine_paths.h"

#include "update/run_inputs.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace kqget {

namespace {

// Enough for every folder above a large library's card folders, without
// growing with the library.
constexpr std::size_t kMaxFoundFolders = 1024;

bool isSeparator(char c) noexcept
{
    return c == '\\' || c == '/';
}

bool exists(const std::string& path) noexcept
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// The name in `folder` that is `name` without regard to case; none when the
// folder has none or cannot be read.
std::string entryWithoutCase(const std::string& folder, std::string_view name)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string each = entry->path().filename().string();
        if (sameWithoutCase(each, name)) {
            return each;
        }
    }
    return {};
}

// The components of `path` after its drive, "." and ".." resolved.
std::vector<std::string_view> componentsOf(std::string_view path)
{
    std::vector<std::string_view> components;
    while (!path.empty()) {
        const auto end = std::ranges::find_if(path, isSeparator) - path.begin();
        const std::string_view component = path.substr(0, static_cast<std::size_t>(end));
        if (component == "..") {
            if (!components.empty()) {
                components.pop_back();
            }
        } else if (!component.empty() && component != ".") {
            components.push_back(component);
        }
        path.remove_prefix(std::min(path.size(), static_cast<std::size_t>(end) + 1));
    }
    return components;
}

} // namespace

WinePaths::WinePaths(std::string prefix) : m_prefix(std::move(prefix))
{
    while (m_prefix.size() > 1 && m_prefix.ends_with('/')) {
        m_prefix.pop_back();
    }
}

std::string WinePaths::prefixFromEnvironment()
{
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return std::string(home == nullptr ? "" : home) + "/.wine";
}

bool WinePaths::isWindowsPath(std::string_view path) noexcept
{
    const char drive = asciiLower(path.empty() ? '\0' : path[0]);
    return path.size() >= 2 && drive >= 'a' && drive <= 'z' && path[1] == ':' &&
           (path.size() == 2 || isSeparator(path[2]));
}

std::string WinePaths::toLinux(std::string_view path) const
{
    if (!isWindowsPath(path)) {
        return std::string(path);
    }
    const char drive = asciiLower(path[0]);
    std::string linux = m_prefix + "/dosdevices/" + drive + ':';
    std::string typed(1, drive); // the key of a folder found: the typed path up to it
    const std::vector<std::string_view> components = componentsOf(path.substr(2));
    bool found = true; // every component so far exists
    for (std::size_t i = 0; i < components.size(); ++i) {
        const std::string_view component = components[i];
        typed.append(1, '\\').append(component);
        const bool isFolder = i + 1 < components.size();
        if (found && isFolder) {
            const std::lock_guard lock(m_mutex);
            if (const auto known = m_foundFolders.find(typed); known != m_foundFolders.end()) {
                linux = known->second;
                continue;
            }
        }
        std::string next = linux + '/' + std::string(component);
        if (found && !exists(next)) {
            const std::string other = entryWithoutCase(linux, component);
            found = !other.empty();
            if (found) {
                next = linux + '/' + other;
            }
        }
        linux = std::move(next);
        if (found && isFolder) {
            const std::lock_guard lock(m_mutex);
            if (m_foundFolders.size() >= kMaxFoundFolders) {
                m_foundFolders.clear();
            }
            m_foundFolders.emplace(typed, linux);
        }
    }
    if (components.empty() || isSeparator(path.back())) {
        linux.push_back('/');
    }
    return linux;
}

} // namespace kqget
