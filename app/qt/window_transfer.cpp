#include "app/qt/window_transfer.h"

#include "platform/posix/curl_transfer.h"

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

} // namespace kqget
