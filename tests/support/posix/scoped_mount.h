#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace kqget::testing {

// Gives the test program a mount namespace of its own, so that whatever a test
// mounts is seen only by the program and its children and goes when it ends.
// Must run before the first thread starts. Where the machine does not allow it,
// mountsUnavailable() says why and tests that need a mount take another way.
void usePrivateMounts();
bool mountsAvailable() noexcept;
const std::string& mountsUnavailable() noexcept;

// A mount that a test needs because a test running as root cannot be stopped
// by permission bits: a small disk that fills up, a folder that cannot be
// written. Unmounted at the end of the scope. Throws std::runtime_error naming
// the target and the system's reason when the mount fails.
class ScopedMount
{
public:
    // A tmpfs of `bytes` over `target`.
    static ScopedMount tmpfs(const std::filesystem::path& target, std::size_t bytes);
    // `target` shows `source`, read-only.
    static ScopedMount readOnly(const std::filesystem::path& source,
                                const std::filesystem::path& target);

    ~ScopedMount();
    ScopedMount(ScopedMount&& other) noexcept;
    ScopedMount& operator=(ScopedMount&&) = delete;
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

private:
    explicit ScopedMount(std::filesystem::path target) : m_target(std::move(target)) {}

    std::filesystem::path m_target; // empty once moved from
};

} // namespace kqget::testing
