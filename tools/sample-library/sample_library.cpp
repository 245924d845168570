#include "tools/sample-library/sample_library.h"

#include "platform/posix/unique_fd.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>

namespace kqget::sample {

namespace {

constexpr std::string_view kLetters = "ABCD";
constexpr std::string_view kIdCharacters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

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

} // namespace

std::string cardId(std::uint64_t index)
{
    std::string id(1, kLetters[index % kLetters.size()]);
    std::array<char, 4> tail{};
    std::uint64_t rest = index / kLetters.size();
    for (auto at = tail.rbegin(); at != tail.rend(); ++at) {
        *at = kIdCharacters[rest % kIdCharacters.size()];
        rest /= kIdCharacters.size();
    }
    id.append(tail.data(), tail.size());
    return id;
}

void makeSparseFile(const std::string& path, std::uint64_t size)
{
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid() || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
        fail("cannot create " + path);
    }
}

void makeCardsInOrder(const std::string& folder, std::uint64_t count,
                      std::uint64_t illustrationSize)
{
    makeFolder(folder);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::string id = cardId(i);
        const std::string card = folder + "/" + id;
        makeFolder(card);
        makeSparseFile(card + "/" + id + ".xml", 1);
        makeSparseFile(card + "/" + id + "_full.png", illustrationSize);
    }
}

} // namespace kqget::sample
