#pragma once

#include "update/run_error.h"
#include "update/transfer_port.h"

#include <string_view>
#include <variant>

namespace kqget::testing {

// One fetch from start to finish, for tests of a transfer on its own: the
// result, or its failure thrown as the run would (without the URL).
inline FetchResult fetchOne(TransferPort& transfer, std::string_view url)
{
    constexpr FetchTicket kTicket = 1;
    transfer.start(kTicket, url);
    for (;;) {
        for (FinishedFetch& finished : transfer.waitForFinished(std::chrono::milliseconds(50))) {
            if (auto* failure = std::get_if<FetchFailure>(&finished.outcome)) {
                throw RunError(failure->number, failure->reason);
            }
            return std::get<FetchResult>(std::move(finished.outcome));
        }
    }
}

} // namespace kqget::testing
