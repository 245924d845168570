#include "tests/support/posix/scoped_mount.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <utility>

namespace kqget::testing {

namespace {

struct MountState
{
    bool available = false;
    std::string unavailable = "usePrivateMounts() was not called";
};

MountState& mountState()
{
    static MountState state;
    return state;
}

[[noreturn]] void failMount(std::string_view what, const std::filesystem::path& target, int error)
{
    throw std::runtime_error("cannot " + std::string(what) + " " + target.string() + ": " +
                             std::strerror(error));
}

} // namespace

void usePrivateMounts()
{
    MountState& state = mountState();
    if (::unshare(CLONE_NEWNS) != 0) {
        state.unavailable = std::string("no mount namespace of its own: ") + std::strerror(errno);
        return;
    }
    // Without this, mounts would still propagate back to the machine's namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        state.unavailable = std::string("cannot make mounts private: ") + std::strerror(errno);
        return;
    }
    state.available = true;
    state.unavailable.clear();
}

bool mountsAvailable() noexcept
{
    return mountState().available;
}

const std::string& mountsUnavailable() noexcept
{
    return mountState().unavailable;
}

ScopedMount ScopedMount::tmpfs(const std::filesystem::path& target, std::size_t bytes)
{
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", target.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        failMount("mount a tmpfs on", target, errno);
    }
    return ScopedMount(target);
}

ScopedMount ScopedMount::readOnly(const std::filesystem::path& source,
                                  const std::filesystem::path& target)
{
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        failMount("bind " + source.string() + " to", target, errno);
    }
    ScopedMount mounted(target);
    // A bind mount takes the read-only flag only when remounted.
    if (::mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        failMount("make read-only", target, errno);
    }
    return mounted;
}

ScopedMount::~ScopedMount()
{
    if (!m_target.empty()) {
        ::umount2(m_target.c_str(), MNT_DETACH);
    }
}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept : m_target(std::exchange(other.m_target, {}))
{}

} // namespace kqget::testing
