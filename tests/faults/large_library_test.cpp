// A library of 100,000 cards: the run completes, and its peak memory stays
// where a run over 10,000 cards has it.
#include "tests/faults/fault_test_fixture.h"
#include "tests/support/scoped_mount.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kqget {
namespace {

using testing::ChildOptions;
using testing::FaultTest;
using testing::ScopedMount;

constexpr std::size_t kSmallLibrary = 10'000;
constexpr std::size_t kLargeLibrary = 100'000;
constexpr double kMostMemoryGrowth = 1.10;
constexpr int kRounds = 2; // the lowest peak of each size is the one with the least noise
// Sparse card files take no room, so a tmpfs of this size holds the library.
constexpr std::size_t kLibraryDiskBytes = 64 * 1024 * 1024;
constexpr std::string_view kLetters = "ABCD";
constexpr std::string_view kIdCharacters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void sparseFile(const std::string& path, off_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail("cannot create " + path);
    }
    const int truncated = ::ftruncate(fd, size);
    ::close(fd);
    if (truncated != 0) {
        fail("cannot size " + path);
    }
}

// `count` cards over A to D, every one in order, so that a run only looks.
void makeLargeLibrary(const std::string& folder, std::size_t count)
{
    if (::mkdir(folder.c_str(), 0755) != 0) {
        fail("cannot create " + folder);
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::string id(1, kLetters[i % kLetters.size()]);
        std::array<char, 4> tail{};
        for (std::size_t rest = i / kLetters.size(), at = tail.size(); at-- > 0;) {
            tail[at] = kIdCharacters[rest % kIdCharacters.size()];
            rest /= kIdCharacters.size();
        }
        id.append(tail.data(), tail.size());
        const std::string card = folder + "/" + id;
        if (::mkdir(card.c_str(), 0755) != 0) {
            fail("cannot create " + card);
        }
        sparseFile(card + "/" + id + ".xml", 1);
        sparseFile(card + "/" + id + "_full.png", kMinimumIllustrationSize);
    }
}

TEST_F(FaultTest, LargeLibraryCompletesWithFlatMemory)
{
    dir.makeFolder("libraries");
    std::optional<ScopedMount> disk;
    if (testing::mountsAvailable()) {
        disk.emplace(ScopedMount::tmpfs(dir.path() / "libraries", kLibraryDiskBytes));
    }
    const std::string small = dir.folder() + "libraries/small";
    const std::string large = dir.folder() + "libraries/large";
    makeLargeLibrary(small, kSmallLibrary);
    makeLargeLibrary(large, kLargeLibrary);

    const auto peakOf = [&](const std::string& library, std::size_t cards) {
        ChildOptions options;
        options.arguments = {"--key", "KEY", "--user", "USER", "--data", library};
        const auto result = runCliWith(options);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_THAT(result.out, ::testing::StartsWith("Cards checked: " + std::to_string(cards) +
                                                      "\nFiles fetched: 0\n"));
        return result.peakResidentKiB;
    };
    long smallPeak = 0;
    long largePeak = 0;
    for (int round = 0; round < kRounds; ++round) {
        const long smallRun = peakOf(small, kSmallLibrary);
        const long largeRun = peakOf(large, kLargeLibrary);
        smallPeak = round == 0 ? smallRun : std::min(smallPeak, smallRun);
        largePeak = round == 0 ? largeRun : std::min(largePeak, largeRun);
    }

    EXPECT_LE(static_cast<double>(largePeak), kMostMemoryGrowth * static_cast<double>(smallPeak))
        << "peak resident memory: " << largePeak << " KiB for " << kLargeLibrary << " cards, "
        << smallPeak << " KiB for " << kSmallLibrary;
    EXPECT_THAT(service->requests(), ::testing::IsEmpty());
}

} // namespace
} // namespace kqget
