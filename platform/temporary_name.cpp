#include "platform/temporary_name.h"

#include <atomic>
#include <cstdint>
#include <random>

namespace kqget {

namespace {

constexpr std::string_view kPrefix = ".kqget-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kRandomLength = 12;
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

} // namespace

std::string temporaryName()
{
    static const std::uint64_t seed =
        (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
    static std::atomic<std::uint64_t> sequence{0};
    // splitmix64: consecutive numbers come out unrelated.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15u * ++sequence;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    std::string name(kPrefix);
    for (std::size_t i = 0; i < kRandomLength; ++i) {
        name += kAlphabet[z % kAlphabet.size()];
        z /= kAlphabet.size();
    }
    return name.append(kSuffix);
}

bool isTemporaryName(std::string_view name) noexcept
{
    if (name.size() != kPrefix.size() + kRandomLength + kSuffix.size() ||
        !name.starts_with(kPrefix) || !name.ends_with(kSuffix)) {
        return false;
    }
    const std::string_view random = name.substr(kPrefix.size(), kRandomLength);
    return random.find_first_not_of(kAlphabet) == std::string_view::npos;
}

} // namespace kqget
