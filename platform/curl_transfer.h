#pragma once

#include "update/transfer_port.h"

namespace kqget {

// Placeholder until the libcurl transfer lands.
class CurlTransfer final : public TransferPort
{
public:
    FetchResult get(std::string_view url) override;
};

} // namespace kqget
