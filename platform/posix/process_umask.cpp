#include "platform/posix/process_umask.h"

#include "update/run_inputs.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <string>

namespace kqget {

namespace {

constexpr unsigned kUmaskWhenUnknown = 077;

} // namespace

std::optional<unsigned> umaskFromProcStatus(std::string_view status)
{
    constexpr std::string_view kField = "\nUmask:";
    const std::string text = "\n" + std::string(status);
    const std::size_t at = text.find(kField);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::string_view value = std::string_view(text).substr(at + kField.size());
    value = trimSpaces(value.substr(0, value.find('\n')), " \t");
    unsigned mask = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), mask, 8);
    if (value.empty() || error != std::errc{} || end != value.data() + value.size() ||
        mask > 0777) {
        return std::nullopt;
    }
    return mask;
}

unsigned currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::ostringstream text;
    text << status.rdbuf();
    return umaskFromProcStatus(text.str()).value_or(kUmaskWhenUnknown);
}

} // namespace kqget
