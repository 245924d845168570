#include "platform/posix/process_umask.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace kqget {

namespace {

constexpr unsigned kUmaskWhenUnknown = 077;

} // namespace

std::optional<unsigned> umaskFromProcStatus(std::string_view status)
{
    constexpr std::string_view kField = "Umask:";
    std::size_t lineStart = 0;
    while (lineStart < status.size()) {
        std::size_t lineEnd = status.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = status.size();
        }
        std::string_view line = status.substr(lineStart, lineEnd - lineStart);
        if (line.starts_with(kField)) {
            line.remove_prefix(kField.size());
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
            unsigned mask = 0;
            const auto [end, error] =
                std::from_chars(line.data(), line.data() + line.size(), mask, 8);
            if (error != std::errc{} || end == line.data() || end != line.data() + line.size() ||
                mask > 0777) {
                return std::nullopt;
            }
            return mask;
        }
        lineStart = lineEnd + 1;
    }
    return std::nullopt;
}

unsigned currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::ostringstream text;
    text << status.rdbuf();
    return umaskFromProcStatus(text.str()).value_or(kUmaskWhenUnknown);
}

} // namespace kqget
