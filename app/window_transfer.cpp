#include "app/window_transfer.h"

#include "platform/curl_transfer.h"

namespace kqget {

std::unique_ptr<TransferPort> makeWindowTransfer()
{
    return std::make_unique<CurlTransfer>();
}

} // namespace kqget
