#include "platform/temporary_name.h"

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
    // One generator a thread: files may be staged on a transfer's thread.
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        (std::uint64_t{std::random_device{}()} << 32)};
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string name(kPrefix);
    for (std::size_t i = 0; i < kRandomLength; ++i) {
        name += kAlphabet[pick(random)];
    }
    return name.append(kSuffix);
}

bool isTemporaryName(std::string_view name) noexcept
{
    return name.size() == kPrefix.size() + kRandomLength + kSuffix.size() &&
           name.starts_with(kPrefix) && name.ends_with(kSuffix) &&
           name.substr(kPrefix.size(), kRandomLength).find_first_not_of(kAlphabet) == name.npos;
}

} // namespace kqget
