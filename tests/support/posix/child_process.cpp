#include "tests/support/posix/child_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kqget::testing {

namespace {

struct Pipe
{
    int read = -1;
    int write = -1;
    Pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
        read = fds[0];
        write = fds[1];
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    void closeRead()
    {
        if (read >= 0) {
            ::close(read);
            read = -1;
        }
    }
    void closeWrite()
    {
        if (write >= 0) {
            ::close(write);
            write = -1;
        }
    }
};

} // namespace

ChildResult runChild(const std::string& program, const ChildOptions& options)
{
    Pipe in;
    Pipe out;
    Pipe err;

    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (auto& text : argvText) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    // The child's environment is made here: between fork() and exec() in a
    // process with other threads only async-signal-safe calls may be made,
    // and setenv() allocates, which deadlocks on an allocator lock another
    // thread held at the fork.
    std::vector<std::string> envText;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string name(text.substr(0, text.find('=')));
        if (!options.setEnv.contains(name) &&
            std::find(options.unsetEnv.begin(), options.unsetEnv.end(), name) ==
                options.unsetEnv.end()) {
            envText.emplace_back(text);
        }
    }
    for (const auto& [name, value] : options.setEnv) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& text : envText) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::dup2(in.read, STDIN_FILENO);
        ::dup2(out.write, STDOUT_FILENO);
        ::dup2(err.write, STDERR_FILENO);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        ::signal(SIGINT, SIG_DFL);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    in.closeRead();
    out.closeWrite();
    err.closeWrite();
    if (!options.input.empty()) {
        [[maybe_unused]] const auto written =
            ::write(in.write, options.input.data(), options.input.size());
    }
    in.closeWrite();

    ChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, 10) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(n));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        if (options.whileRunning) {
            options.whileRunning(pid);
        }
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.peakResidentKiB = usage.ru_maxrss;
    return result;
}

} // namespace kqget::testing
