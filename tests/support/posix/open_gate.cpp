#include "tests/support/posix/open_gate.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/fanotify.h>
#include <unistd.h>

namespace kqget::testing {

namespace {

constexpr unsigned kInitFlags = FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK;

std::filesystem::path pathOf(int fd)
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return error ? std::filesystem::path() : path;
}

} // namespace

bool OpenGate::supported(std::string& why)
{
    const int fd = ::fanotify_init(kInitFlags, O_RDONLY);
    if (fd < 0) {
        why = std::string("fanotify permission events unavailable: ") + std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

OpenGate::OpenGate(const std::filesystem::path& folder)
    : m_fd(::fanotify_init(kInitFlags, O_RDONLY))
{
    if (m_fd < 0) {
        throw std::runtime_error("cannot hold opens in " + folder.string() + ": " +
                                 std::strerror(errno));
    }
    if (::fanotify_mark(m_fd, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                        folder.c_str()) != 0) {
        const int error = errno;
        ::close(m_fd);
        throw std::runtime_error("cannot watch " + folder.string() + ": " + std::strerror(error));
    }
}

OpenGate::~OpenGate()
{
    // Closing the group lets every open it still holds go on.
    ::close(m_fd);
}

void OpenGate::serve(const std::function<void(const std::filesystem::path&)>& onOpen)
{
    alignas(fanotify_event_metadata) std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer.data(), buffer.size());
        if (length <= 0) {
            return; // EAGAIN: nothing waits
        }
        auto* event = reinterpret_cast<const fanotify_event_metadata*>(buffer.data());
        for (ssize_t left = length; FAN_EVENT_OK(event, left);
             event = FAN_EVENT_NEXT(event, left)) {
            if (event->fd < 0) {
                continue;
            }
            onOpen(pathOf(event->fd));
            const fanotify_response allow{event->fd, FAN_ALLOW};
            [[maybe_unused]] const auto written = ::write(m_fd, &allow, sizeof allow);
            ::close(event->fd);
        }
    }
}

} // namespace kqget::testing
