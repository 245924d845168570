#include "tests/support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kqget::testing {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kqget-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder from " + pattern);
    }
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempDir::write(std::string_view relative, std::string_view content) const
{
    const auto target = m_path / relative;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + target.string());
    }
    return target;
}

std::filesystem::path TempDir::makeFolder(std::string_view relative) const
{
    const auto target = m_path / relative;
    std::filesystem::create_directories(target);
    return target;
}

std::string TempDir::read(std::string_view relative) const
{
    return readFile(m_path / relative);
}

std::string TempDir::listing() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path)) {
        names.push_back(std::filesystem::relative(entry.path(), m_path).string());
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto& name : names) {
        text.append(name).append("\n");
    }
    return text;
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace kqget::testing
