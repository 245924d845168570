#include "platform/curl_transfer.h"

#include "update/run_error.h"

namespace kqget {

FetchResult CurlTransfer::get(std::string_view url)
{
    throw RunError(ErrorNumber::Transfer, "not implemented: " + std::string(url));
}

} // namespace kqget
