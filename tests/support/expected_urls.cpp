#include "tests/support/expected_urls.h"

#include "update/build_config.h"

namespace kqget::testing {

std::string configuredInfoUrl(std::string_view card, std::string_view key, std::string_view user)
{
    return std::string(kConfiguredInfoBase) + infoPath(card, key, user);
}

std::string configuredImageUrl(std::string_view card)
{
    return std::string(kConfiguredImageBase) + imagePath(card);
}

} // namespace kqget::testing
