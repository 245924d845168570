// A library of 100,000 cards: the run completes, and its peak memory stays
// near where a run over 10,000 cards has it.
#include "tests/faults/fault_test_fixture.h"
#include "tests/support/posix/scoped_mount.h"
#include "tools/sample-library/sample_library.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace kqget {
namespace {

using testing::ChildOptions;
using testing::FaultTest;
using testing::ScopedMount;

constexpr std::size_t kSmallLibrary = 10'000;
constexpr std::size_t kLargeLibrary = 100'000;
// What may grow with the library is one letter's sorted listing, a few bytes
// a name; anything kept per card for the whole run costs tens of bytes each.
// Measured per card rather than as a share of the peak, which is mostly the
// program's own start-up and shrinks as that gets leaner.
constexpr double kMostBytesPerCard = 16;
constexpr int kRounds = 2; // the lowest peak of each size is the one with the least noise
// Sparse card files take no room, so a tmpfs of this size holds the library.
constexpr std::size_t kLibraryDiskBytes = 64 * 1024 * 1024;
// The address sanitizer holds freed memory back in its quarantine, which grows
// with the work done, not with what the run keeps: peaks say nothing there.
constexpr bool kPeaksAreMeaningful =
#if defined(__SANITIZE_ADDRESS__)
    false;
#else
    true;
#endif

TEST_F(FaultTest, LargeLibraryCompletesWithFlatMemory)
{
    dir.makeFolder("libraries");
    std::optional<ScopedMount> disk;
    if (testing::mountsAvailable()) {
        disk.emplace(ScopedMount::tmpfs(dir.path() / "libraries", kLibraryDiskBytes));
    }
    const std::string small = dir.folder() + "libraries/small";
    const std::string large = dir.folder() + "libraries/large";
    sample::makeCardsInOrder(small, kSmallLibrary, kMinimumIllustrationSize);
    sample::makeCardsInOrder(large, kLargeLibrary, kMinimumIllustrationSize);

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
    for (int round = 0; round < (kPeaksAreMeaningful ? kRounds : 1); ++round) {
        const long smallRun = peakOf(small, kSmallLibrary);
        const long largeRun = peakOf(large, kLargeLibrary);
        smallPeak = round == 0 ? smallRun : std::min(smallPeak, smallRun);
        largePeak = round == 0 ? largeRun : std::min(largePeak, largeRun);
    }

    EXPECT_THAT(service->requests(), ::testing::IsEmpty());
    if (!kPeaksAreMeaningful) {
        GTEST_SKIP() << "built with the address sanitizer: the runs completed, but their peak "
                        "memory is the sanitizer's, so the ratio is not read";
    }
    EXPECT_LE(static_cast<double>(largePeak - smallPeak) * 1024,
              kMostBytesPerCard * static_cast<double>(kLargeLibrary - kSmallLibrary))
        << "peak resident memory: " << largePeak << " KiB for " << kLargeLibrary << " cards, "
        << smallPeak << " KiB for " << kSmallLibrary;
}

} // namespace
} // namespace kqget
