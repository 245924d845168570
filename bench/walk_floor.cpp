// The least a walk of a library that needs nothing can cost: one listing of
// the data folder per letter, the folder test taken from the listing's entry
// type (a query only for an unknown type or a link), the two size queries of
// every card relative to the open data folder, and the same run log lines
// through a buffered stream. kqget-cli is measured against it, so it shares
// none of kqget's code.
//
//   kqget-bench-walk-floor --order listing|sorted DATA/
//
// "listing" visits a letter's cards as the directory lists them, "sorted" in
// kqget's name order (case-blind, then bytewise); the caller picks the one
// that kqget uses, so that the two logs can be compared byte for byte.
// Writes KQ-GET-PNG-XML.txt into the current folder; stops with status 3 at a
// card that would need a fetch, which it cannot do.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
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

// The size of DATA/relative, looked up from the open data folder.
std::uint64_t fileSize(int folder, const char* relative) noexcept
{
    struct stat info
    {};
    if (::fstatat(folder, relative, &info, 0) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

bool isDirectory(int folder, const char* relative, unsigned char type) noexcept
{
    if (type != DT_UNKNOWN && type != DT_LNK) {
        return type == DT_DIR;
    }
    struct stat info
    {};
    return ::fstatat(folder, relative, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

struct Entry
{
    std::string name;
    unsigned char type;
};

struct NeedsFetch
{
    std::string id;
};

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

// `path` holds DATA/ and is kept from card to card, so that it keeps its room.
void visitCard(Log& log, int folder, std::size_t dataLength, std::string_view id,
               unsigned char type, std::string& path)
{
    path.resize(dataLength);
    path.append(id);
    const char* relative = path.c_str() + dataLength;
    if (!isDirectory(folder, relative, type)) {
        return;
    }
    log.line(id);
    path.append("/").append(id).append(".xml");
    relative = path.c_str() + dataLength;
    const std::uint64_t xmlSize = fileSize(folder, relative);
    log.sizeLine(path, xmlSize);
    path.resize(path.size() - 4);
    path.append("_full.png");
    relative = path.c_str() + dataLength;
    const std::uint64_t illustrationSize = fileSize(folder, relative);
    log.sizeLine(path, illustrationSize);
    if (xmlSize == 0 || illustrationSize < kMinimumIllustrationSize) {
        throw NeedsFetch{std::string(id)};
    }
}

int walk(const std::string& data, bool sorted)
{
    std::FILE* file = std::fopen("KQ-GET-PNG-XML.txt", "wb");
    if (file == nullptr) {
        std::perror("KQ-GET-PNG-XML.txt");
        return 2;
    }
    Log log(file);
    std::string path = data;
    std::vector<Entry> names;
    // One listing per letter, as the letters must come in order and nothing
    // may be held for the whole library.
    for (int group = 0; group < 4; ++group) {
        DIR* dir = ::opendir(data.c_str());
        if (dir == nullptr) {
            std::perror(data.c_str());
            return 2;
        }
        const int folder = ::dirfd(dir);
        names.clear();
        while (const dirent* entry = ::readdir(dir)) {
            if (letterGroup(entry->d_name) != group) {
                continue;
            }
            if (sorted) {
                names.push_back({entry->d_name, entry->d_type});
            } else {
                visitCard(log, folder, data.size(), entry->d_name, entry->d_type, path);
            }
        }
        std::sort(names.begin(), names.end(),
                  [](const Entry& a, const Entry& b) { return nameLess(a.name, b.name); });
        for (const Entry& name : names) {
            visitCard(log, folder, data.size(), name.name, name.type, path);
        }
        ::closedir(dir);
    }
    return 0;
}

} // namespace

} // namespace kqget

int main(int argc, char** argv)
{
    const std::string_view order = argc == 4 ? argv[2] : "";
    if (std::string_view(argc > 1 ? argv[1] : "") != "--order" ||
        (order != "listing" && order != "sorted")) {
        std::fputs("usage: kqget-bench-walk-floor --order listing|sorted DATA/\n", stderr);
        return 64;
    }
    std::string data = argv[3];
    if (data.empty() || data.back() != '/') {
        data.push_back('/');
    }
    try {
        return kqget::walk(data, order == "sorted");
    } catch (const kqget::NeedsFetch& card) {
        std::fprintf(stderr, "%s needs a fetch; the floor only walks\n", card.id.c_str());
        return 3;
    }
}
