#include "app/qt/window_transfer.h"

#include "platform/posix/curl_transfer.h"

#include <cstdlib>

namespace kqget {

std::unique_ptr<TransferPort> makeWindowTransfer()
{
    return makeWindowTransferFor(ServiceBases::configured());
}

std::unique_ptr<TransferPort> makeWindowTransferFor(const ServiceBases& bases)
{
    TransferOptions options;
    options.bases = bases;
    return std::make_unique<CurlTransfer>(std::move(options));
}

ServiceSettings windowServiceSettings()
{
    return resolveServiceSettings(std::nullopt, std::nullopt, false, [](const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr ? std::nullopt : std::optional<std::string>(value);
    });
}

} // namespace kqget
