#include "tests/support/card_service_proxy.h"

#include <fstream>
#include <stdexcept>

namespace kqget::testing {

std::string cardServiceProxy()
{
    std::ifstream file(KQGET_CARD_SERVICE_PORT_FILE);
    std::string port;
    std::getline(file, port);
    if (port.empty()) {
        throw std::runtime_error("no stand-in card service: " KQGET_CARD_SERVICE_PORT_FILE);
    }
    return "http://127.0.0.1:" + port;
}

} // namespace kqget::testing
