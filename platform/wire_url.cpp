#include "platform/wire_url.h"

namespace kqget {

std::string wireUrl(std::string_view url)
{
    return std::string(url);
}

} // namespace kqget
