#include "cli/duration_text.h"

#include <algorithm>
#include <cstdio>

namespace kqget {

std::string durationText(std::chrono::milliseconds span)
{
    using namespace std::chrono;
    const long long ms = std::max<long long>(span.count(), 0);
    char text[48];
    if (ms < 10'000) {
        std::snprintf(text, sizeof text, "%lld.%lld s", ms / 1000, (ms % 1000) / 100);
    } else if (ms < 60'000) {
        std::snprintf(text, sizeof text, "%lld s", ms / 1000);
    } else if (ms < 3'600'000) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", ms / 60'000, ms / 1000 % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld h %02lld min", ms / 3'600'000, ms / 60'000 % 60);
    }
    return text;
}

} // namespace kqget
