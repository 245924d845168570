#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kqget::testing {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const noexcept { return m_path; }
    // The folder as UTF-8 text, ending in the system's separator.
    std::string folder() const
    {
        const auto text = m_path.u8string();
        return std::string(text.begin(), text.end()) +
               static_cast<char>(std::filesystem::path::preferred_separator);
    }

    // Writes a file (creating its folders) and returns its path.
    std::filesystem::path write(std::string_view relative, std::string_view content) const;
    std::filesystem::path makeFolder(std::string_view relative) const;
    std::string read(std::string_view relative) const;

    // Names of every entry below the folder, relative to it, sorted.
    std::string listing() const;

private:
    std::filesystem::path m_path;
};

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

} // namespace kqget::testing
