#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace kqget::testing {

// Holds every open of a file in one folder until the test has seen it. The
// opening program waits in the kernel meanwhile, so a test can act at exactly
// that moment (send a signal, remove a folder) and then let the open go on.
// Built on fanotify permission events, which need a privileged process.
class OpenGate
{
public:
    // Whether the machine lets this process hold opens; when not, `why` says so.
    static bool supported(std::string& why);

    // Throws std::runtime_error naming the folder and the system's reason.
    explicit OpenGate(const std::filesystem::path& folder);
    ~OpenGate(); // lets any open still held go on
    OpenGate(const OpenGate&) = delete;
    OpenGate& operator=(const OpenGate&) = delete;

    // Calls onOpen with the path of each open held so far, then lets it go on.
    // Returns at once when none waits.
    void serve(const std::function<void(const std::filesystem::path&)>& onOpen);

private:
    int m_fd;
};

} // namespace kqget::testing
