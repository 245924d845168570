#include "app/qt/window_transfer.h"

#include "platform/posix/curl_transfer.h"

namespace kqget {

std::unique_ptr<TransferPort> makeWindowTransfer()
{
    return std::make_unique<CurlTransfer>();
}

} // namespace kqget
