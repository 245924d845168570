#include "cli/host_system.h"

#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kqget {

std::vector<std::string> commandArguments(int argc, char** argv)
{
    return {argv + 1, argv + argc};
}

bool isTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

std::size_t terminalColumns(std::FILE* stream)
{
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0) {
        return size.ws_col;
    }
    return 0;
}

std::FILE* openForReading(const std::string& path)
{
    return std::fopen(path.c_str(), "rbe"); // e: close on exec
}

std::optional<std::string> environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

} // namespace kqget
