// The least a walk of a library that needs nothing can cost: one listing of
// the data folder, the folder test and the two size queries of every card, and
// the same run log lines through a buffered stream. kqget-cli is measured
// against it, so it shares none of kqget's code.
//
//   kqget-bench-walk-floor DATA/
//
// Writes KQ-GET-PNG-XML.txt into the current folder; stops with status 3 at a
// card that would need a fetch, which it cannot do.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace kqget {

namespace {

constexpr std::size_t kLogBufferSize = 64 * 1024;
constexpr std::uint64_t kMinimumIllustrationSize = 11000;
constexpr std::size_t kMaxCharactersAfterLetter = 4;

char upper(char c) noexcept
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Which of the four letter groups a name falls in, or -1 for none. The
// libraries measured are ASCII, so bytes stand for characters here.
int letterGroup(std::string_view name) noexcept
{
    if (name.empty() || name.size() > 1 + kMaxCharactersAfterLetter ||
        name.find('.') != std::string_view::npos) {
        return -1;
    }
    const char letter = upper(name.front());
    return (letter >= 'A' && letter <= 'D') ? letter - 'A' : -1;
}

bool nameLess(const std::string& a, const std::string& b) noexcept
{
    const auto upperLess = [](char x, char y) {
        return static_cast<unsigned char>(upper(x)) < static_cast<unsigned char>(upper(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), upperLess)) {
        return true;
    }
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), upperLess)) {
        return false;
    }
    return a < b;
}

std::uint64_t fileSize(const std::string& path) noexcept
{
    struct stat info
    {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

bool isDirectory(const std::string& path) noexcept
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class Log
{
public:
    explicit Log(std::FILE* file) : m_file(file)
    {
        // Without a buffer of its own, glibc ignores the size and flushes every 4 KiB.
        std::setvbuf(m_file, m_buffer.data(), _IOFBF, m_buffer.size());
    }
    ~Log() { std::fclose(m_file); }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void line(std::string_view text)
    {
        std::fwrite(text.data(), 1, text.size(), m_file);
        std::fwrite("\r\n", 1, 2, m_file);
    }

    void sizeLine(const std::string& path, std::uint64_t size)
    {
        std::array<char, 24> digits{};
        const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), size).ptr;
        std::fwrite(path.data(), 1, path.size(), m_file);
        std::fwrite(" size ", 1, 6, m_file);
        std::fwrite(digits.data(), 1, static_cast<std::size_t>(end - digits.data()), m_file);
        std::fwrite("\r\n", 1, 2, m_file);
    }

private:
    std::FILE* m_file;
    std::array<char, kLogBufferSize> m_buffer{};
};

int walk(const std::string& data)
{
    std::array<std::vector<std::string>, 4> groups;
    DIR* dir = ::opendir(data.c_str());
    if (dir == nullptr) {
        std::perror(data.c_str());
        return 2;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (const int group = letterGroup(name); group >= 0) {
            groups[static_cast<std::size_t>(group)].emplace_back(name);
        }
    }
    ::closedir(dir);

    std::FILE* file = std::fopen("KQ-GET-PNG-XML.txt", "wb");
    if (file == nullptr) {
        std::perror("KQ-GET-PNG-XML.txt");
        return 2;
    }
    Log log(file);
    std::string path;
    for (auto& names : groups) {
        std::sort(names.begin(), names.end(), nameLess);
        for (const std::string& id : names) {
            path.assign(data).append(id);
            if (!isDirectory(path)) {
                continue;
            }
            log.line(id);
            path.append("/").append(id).append(".xml");
            const std::uint64_t xmlSize = fileSize(path);
            log.sizeLine(path, xmlSize);
            path.resize(path.size() - 4);
            path.append("_full.png");
            const std::uint64_t illustrationSize = fileSize(path);
            log.sizeLine(path, illustrationSize);
            if (xmlSize == 0 || illustrationSize < kMinimumIllustrationSize) {
                std::fprintf(stderr, "%s needs a fetch; the floor only walks\n", id.c_str());
                return 3;
            }
        }
    }
    return 0;
}

} // namespace

} // namespace kqget

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: kqget-bench-walk-floor DATA/\n", stderr);
        return 64;
    }
    std::string data = argv[1];
    if (data.empty() || data.back() != '/') {
        data.push_back('/');
    }
    return kqget::walk(data);
}
