#include "tests/support/card_service_proxy.h"

#include "tests/support/scoped_environment.h"
#include "tools/card-service/card_service.h"

namespace kqget::testing {

std::string cardServiceProxy()
{
    // One for the whole program: its tests never add faults to it. A proxy
    // setting in the environment would pass the service by.
    static const struct Shared
    {
        NoProxyEnvironment noProxy;
        CardService service;
    } shared;
    return shared.service.baseUrl();
}

} // namespace kqget::testing
