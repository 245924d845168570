#include "cli/host_system.h"

#include <csignal>
#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kqget {

std::vector<std::string> commandArguments(int argc, char** argv)
{
    // A reader that went away (`kqget-cli ... | head`) is an output failure
    // the command reports, not a silent death.
    ::signal(SIGPIPE, SIG_IGN);
    return {argv + 1, argv + argc};
}

bool isTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

bool writeText(std::FILE* stream, std::string_view text)
{
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

bool erasesWithEscapes(std::FILE* /*stream*/)
{
    // A terminal that says nothing of itself, or that it is dumb (an editor's
    // shell buffer, a CI log), shows an escape sequence as text.
    const char* term = std::getenv("TERM");
    return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
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
