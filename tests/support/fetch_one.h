#pragma once

#include "update/run_error.h"
#include "update/transfer_port.h"

#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <variant>

namespace kqget::testing {

// Keeps a body in memory, for tests of a transfer on its own; refuses it
// when there is no memory for it.
class MemorySink final : public BodySink
{
public:
    bool begin(long, std::optional<std::uint64_t> length) noexcept override
    {
        body.clear();
        try {
            body.reserve(length.value_or(0));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    bool write(std::string_view bytes) noexcept override
    {
        try {
            body.append(bytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    std::string body;
};

// A reply with the body its sink received.
struct FetchedReply : FetchResult
{
    std::string body;
};

// One fetch from start to finish, for tests of a transfer on its own: the
// result, or its failure thrown as the run would (without the URL).
inline FetchedReply fetchOne(TransferPort& transfer, std::string_view url)
{
    constexpr FetchTicket kTicket = 1;
    const auto sink = std::make_shared<MemorySink>();
    transfer.start(kTicket, url, sink);
    for (;;) {
        for (FinishedFetch& finished : transfer.waitForFinished(std::chrono::milliseconds(50))) {
            if (auto* failure = std::get_if<FetchFailure>(&finished.outcome)) {
                throw RunError(failure->number, failure->reason);
            }
            FetchedReply reply{std::get<FetchResult>(std::move(finished.outcome)), {}};
            if (!reply.overSizeCap) {
                reply.body = std::move(sink->body);
            }
            return reply;
        }
    }
}

} // namespace kqget::testing
