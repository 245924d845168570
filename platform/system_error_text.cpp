#include "platform/system_error_text.h"

#include <system_error>

namespace kqget {

std::string systemErrorText(int errorNumber)
{
    return std::generic_category().message(errorNumber);
}

} // namespace kqget
