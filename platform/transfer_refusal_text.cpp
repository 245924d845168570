#include "platform/transfer_refusal_text.h"

namespace kqget {

std::string insecureRedirectText(std::string_view location)
{
    return "refused the redirect to " + std::string(location) +
           ": it would send the account key in clear (https to http)";
}

std::string tookTooLongText(std::chrono::milliseconds limit)
{
    using std::chrono::minutes;
    if (limit >= minutes(1) && limit % minutes(1) == std::chrono::milliseconds(0)) {
        const auto count = std::chrono::duration_cast<minutes>(limit).count();
        return "took longer than " + std::to_string(count) + (count == 1 ? " minute" : " minutes");
    }
    return "took longer than " + std::to_string(limit.count()) + " ms";
}

} // namespace kqget
