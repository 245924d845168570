#include "app/window_transfer.h"

#include "platform/curl_transfer.h"

#include <utility>

namespace kqget {

std::unique_ptr<TransferPort> makeWindowTransfer(std::function<void()> /*idle*/)
{
    return std::make_unique<CurlTransfer>();
}

} // namespace kqget
