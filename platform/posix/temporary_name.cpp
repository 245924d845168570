#include "platform/posix/temporary_name.h"

#include <atomic>
#include <cstdint>
#include <random>
#include <unistd.h>

namespace kqget {

namespace {

constexpr std::string_view kTemporaryMark = ".kqget-";
constexpr std::size_t kRandomLength = 6; // mkstemp's XXXXXX

bool isRandomPart(std::string_view text) noexcept
{
    if (text.size() != kRandomLength) {
        return false;
    }
    for (const char c : text) {
        const bool alphanumeric =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alphanumeric) {
            return false;
        }
    }
    return true;
}

} // namespace

std::size_t nameStart(std::string_view path) noexcept
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

std::string temporaryPrefix(std::string_view target)
{
    return std::string(".").append(target.substr(nameStart(target))).append(kTemporaryMark);
}

bool isTemporaryOf(std::string_view entry, std::string_view prefix) noexcept
{
    return entry.starts_with(prefix) && isRandomPart(entry.substr(prefix.size()));
}

bool looksTemporary(std::string_view entry) noexcept
{
    // "." and a name of at least one character before the mark.
    constexpr std::size_t kShortest = 2 + kTemporaryMark.size() + kRandomLength;
    if (entry.size() < kShortest || entry.front() != '.') {
        return false;
    }
    const std::size_t mark = entry.size() - kRandomLength - kTemporaryMark.size();
    return entry.substr(mark, kTemporaryMark.size()) == kTemporaryMark &&
           isRandomPart(entry.substr(mark + kTemporaryMark.size()));
}

std::string uniqueSuffix()
{
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static const std::uint64_t seed = (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
                                      static_cast<std::uint64_t>(::getpid());
    static std::atomic<std::uint64_t> sequence{0};
    // splitmix64: consecutive numbers come out unrelated.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15u * ++sequence;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    std::string suffix(kRandomLength, ' ');
    for (char& c : suffix) {
        c = kAlphabet[z % kAlphabet.size()];
        z /= kAlphabet.size();
    }
    return suffix;
}

} // namespace kqget
