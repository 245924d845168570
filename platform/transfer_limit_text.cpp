#include "platform/transfer_limit_text.h"

#include "update/run_inputs.h"

#include <algorithm>
#include <cctype>

namespace kqget {

namespace {

std::string counted(long long count, std::string_view unit)
{
    return std::to_string(count) + " " + std::string(unit) + (count == 1 ? "" : "s");
}

constexpr std::string_view kSchemeCharacters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.";

// The URL's scheme as written; empty for a relative reference.
std::string_view schemeOf(std::string_view url)
{
    const std::size_t end = url.find_first_not_of(kSchemeCharacters);
    const bool named = end != std::string_view::npos && end > 0 && url[end] == ':' &&
                       std::isalpha(static_cast<unsigned char>(url[0])) != 0;
    return named ? url.substr(0, end) : std::string_view();
}

bool isHttpsScheme(std::string_view scheme)
{
    return sameWithoutCase(scheme, "https");
}

} // namespace

bool isHttps(std::string_view url)
{
    return isHttpsScheme(schemeOf(url));
}

bool leavesHttps(std::string_view from, std::string_view location)
{
    const std::string_view scheme = schemeOf(location);
    return isHttps(from) && !scheme.empty() && !isHttpsScheme(scheme);
}

std::string clearTextRedirectText(std::string_view location)
{
    return "redirected to " + std::string(location) +
           ": not followed, as the key would go out in clear";
}

std::string tookTooLongText(std::chrono::milliseconds limit)
{
    using namespace std::chrono;
    std::string amount;
    if (limit.count() % duration_cast<milliseconds>(minutes(1)).count() == 0) {
        amount = counted(duration_cast<minutes>(limit).count(), "minute");
    } else if (limit.count() % 1000 == 0) {
        amount = counted(duration_cast<seconds>(limit).count(), "second");
    } else {
        amount = std::to_string(limit.count()) + " ms";
    }
    return "took longer than " + amount;
}

void PaceWindow::restart(std::chrono::steady_clock::time_point now)
{
    start = now;
    bytes = 0;
}

std::optional<std::string> PaceWindow::judge(std::chrono::steady_clock::time_point now,
                                             const TransferOptions& options)
{
    const auto window = options.stallTimeout;
    if (now - start < window) {
        return std::nullopt;
    }
    if (bytes < options.slowestBytesPerSecond * static_cast<std::uint64_t>(window.count()) / 1000) {
        return "slower than " + std::to_string(options.slowestBytesPerSecond) + " bytes/s for " +
               std::to_string(window.count()) + " ms (low-speed time-out)";
    }
    restart(now);
    return std::nullopt;
}

} // namespace kqget
