// Makes the card libraries that bench/run.py measures, checks what a fetch
// left behind, and finds a free loopback port for the servers it starts.
//
//   kqget-bench-library walk N DATA
//       N cards over A-D, each with a non-empty XML and a sparse 12000-byte
//       illustration, so that a run fetches nothing; a few entries that a run
//       must pass over sit beside them.
//   kqget-bench-library fetch N DATA ROOT CONFIG IMAGE_BASE
//       N cards with a non-empty XML and no illustration; the illustrations
//       under ROOT/free/sets/ID/illustrations/, and CONFIG as a curl config of
//       url/output pairs that fetch IMAGE_BASE's copies into DATA.
//   kqget-bench-library verify DATA ROOT
//       Every illustration in DATA equals its copy under ROOT.
//   kqget-bench-library verify DATA --card-service
//       Every illustration in DATA equals what the stand-in card service sends.
//   kqget-bench-library sound N DATA
//       N cards over A-D whose files are whole and sound: a small XML and a
//       320x440 RGB PNG of about 140 KB, so that --verify reads and inflates
//       every one and fetches nothing.
//   kqget-bench-library free-port

#include "bench/sound_png.h"
#include "platform/posix/unique_fd.h"
#include "tools/card-service/card_content.h"
#include "tools/sample-library/sample_library.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kqget {

namespace {

constexpr std::uint64_t kWalkIllustrationSize = 12000;
constexpr std::string_view kLetters = "ABCD";
// Served illustrations vary in size like real ones, within a few tens of KiB.
constexpr std::uint64_t kServedSizeLow = 20000;
constexpr std::uint64_t kServedSizeSpread = 40000;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void makeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        fail("cannot create " + path);
    }
}

void makeFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        makeFolder(path.substr(0, slash));
    }
    makeFolder(path);
}

void writeFile(const std::string& path, std::string_view content)
{
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        fail("cannot create " + path);
    }
    while (!content.empty()) {
        const ssize_t written = ::write(fd.get(), content.data(), content.size());
        if (written < 0) {
            fail("cannot write " + path);
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string readFile(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return {};
    }
    std::string content;
    std::array<char, 64 * 1024> buffer{};
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0) {
            fail("cannot read " + path);
        }
        if (got == 0) {
            return content;
        }
        content.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/') {
        folder.push_back('/');
    }
    return folder;
}

std::string cardXml(const std::string& id)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<cards><card id=\"" + id +
           "\"><name>Card " + id + "</name><set>" + id.substr(0, 1) + "</set></card></cards>\r\n";
}

// Deterministic bytes, different for every card, that no compressor shrinks,
// behind the PNG signature: kqget stores no body that lacks it.
std::string illustrationBytes(std::uint64_t i)
{
    constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
    std::uint64_t state = 0x9E3779B97F4A7C15ULL * (i + 1);
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    const std::uint64_t size = kServedSizeLow + next() % kServedSizeSpread;
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(next() & 0xFF);
    }
    bytes.replace(0, kPngSignature.size(), kPngSignature);
    return bytes;
}

std::string imagePath(const std::string& id)
{
    return "free/sets/" + id + "/illustrations/" + id + "_full.png";
}

std::uint64_t count(const char* text)
{
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        throw std::runtime_error(std::string("not a card count: ") + text);
    }
    return value;
}

// Entries a run lists and must pass over: other letters, a period, too long,
// and a plain file with a card's name.
void addNoise(const std::string& data)
{
    for (const char* folder : {"E0001", "Z0001", "00001", "A.bak", "B123456", "c0001x"}) {
        makeFolder(data + folder);
    }
    writeFile(data + "D_ZZZ", "not a card folder\n");
}

int makeWalkLibrary(std::uint64_t cards, const std::string& data)
{
    const std::string folder = data.substr(0, data.size() - 1);
    makeFolders(folder);
    sample::makeCardsInOrder(folder, cards, kWalkIllustrationSize);
    addNoise(data);
    return 0;
}

int makeFetchLibrary(std::uint64_t cards, const std::string& data, const std::string& root,
                     const std::string& configPath, const std::string& imageBase)
{
    makeFolders(data.substr(0, data.size() - 1));
    std::string config;
    for (std::uint64_t i = 0; i < cards; ++i) {
        const std::string id = sample::cardId(i);
        const std::string folder = data + id + "/";
        makeFolder(folder);
        writeFile(folder + id + ".xml", cardXml(id));
        makeFolders(root + "free/sets/" + id + "/illustrations");
        writeFile(root + imagePath(id), illustrationBytes(i));
        config.append("url = \"").append(imageBase).append("/").append(imagePath(id));
        config.append("\"\noutput = \"").append(folder).append(id).append("_full.png\"\n");
    }
    writeFile(configPath, config);
    return 0;
}

// root empty: the stand-in card service's answers.
int verifyFetched(const std::string& data, const std::string& root)
{
    std::vector<std::string> ids;
    {
        DIR* dir = ::opendir(data.c_str());
        if (dir == nullptr) {
            fail("cannot list " + data);
        }
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (name.size() == 5 && kLetters.find(name.front()) != std::string_view::npos) {
                ids.emplace_back(name);
            }
        }
        ::closedir(dir);
    }
    std::size_t missing = 0;
    for (const std::string& id : ids) {
        const std::string expected =
            root.empty() ? testing::cardPng(id) : readFile(root + imagePath(id));
        if (expected.empty() || readFile(data + id + "/" + id + "_full.png") != expected) {
            if (++missing <= 3) {
                std::fprintf(stderr, "verify: %s did not arrive intact\n", id.c_str());
            }
        }
    }
    std::printf("%zu of %zu illustrations arrived intact\n", ids.size() - missing, ids.size());
    return missing == 0 && !ids.empty() ? 0 : 1;
}

int printFreePort()
{
    const UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket.get() < 0 ||
        ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fail("cannot find a free port");
    }
    std::printf("%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
    return 0;
}

int usage()
{
    std::fputs("usage: kqget-bench-library walk N DATA\n"
               "       kqget-bench-library fetch N DATA ROOT CONFIG IMAGE_BASE\n"
               "       kqget-bench-library verify DATA ROOT|--card-service\n"
               "       kqget-bench-library free-port\n",
               stderr);
    return 64;
}

int run(int argc, char** argv)
{
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "walk" && argc == 4) {
        return makeWalkLibrary(count(argv[2]), withSlash(argv[3]));
    }
    if (command == "fetch" && argc == 7) {
        return makeFetchLibrary(count(argv[2]), withSlash(argv[3]), withSlash(argv[4]), argv[5],
                                argv[6]);
    }
    if (command == "verify" && argc == 4) {
        const std::string_view reference = argv[3];
        return verifyFetched(withSlash(argv[2]),
                             reference == "--card-service" ? "" : withSlash(argv[3]));
    }
    if (command == "sound" && argc == 4) {
        const std::string data = withSlash(argv[3]);
        makeFolder(data);
        for (std::uint64_t i = 0; i < count(argv[2]); ++i) {
            const std::string id = sample::cardId(i);
            makeFolder(data + id);
            writeFile(data + id + "/" + id + ".xml", cardXml(id));
            writeFile(data + id + "/" + id + "_full.png", bench::soundPng(320, 440, i));
        }
        return 0;
    }
    if (command == "free-port" && argc == 2) {
        return printFreePort();
    }
    return usage();
}

} // namespace

} // namespace kqget

int main(int argc, char** argv)
{
    try {
        return kqget::run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kqget-bench-library: %s\n", error.what());
        return 1;
    }
}
