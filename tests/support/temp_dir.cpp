#include "tests/support/temp_dir.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kqget::testing {

namespace {

// Test names are UTF-8 on every system, whatever the code page.
std::filesystem::path fromUtf8(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string toUtf8(const std::filesystem::path& path)
{
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

TempDir::TempDir()
{
    // A random name, tried until one is free: mkdtemp is not on every system.
    const auto base = std::filesystem::temp_directory_path();
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("kqget-test-" + std::to_string(random() % 1'000'000'000));
        if (std::filesystem::create_directory(candidate)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace);
            m_path = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempDir::write(std::string_view relative, std::string_view content) const
{
    const auto target = m_path / fromUtf8(relative);
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + toUtf8(target));
    }
    return target;
}

std::filesystem::path TempDir::makeFolder(std::string_view relative) const
{
    const auto target = m_path / fromUtf8(relative);
    std::filesystem::create_directories(target);
    return target;
}

std::string TempDir::read(std::string_view relative) const
{
    return readFile(m_path / fromUtf8(relative));
}

std::string TempDir::listing() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path)) {
        const auto relative = std::filesystem::relative(entry.path(), m_path).generic_u8string();
        names.emplace_back(relative.begin(), relative.end());
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
