#pragma once

#include "platform/transfer_options.h"
#include "update/transfer_port.h"

#include <memory>
#include <string>

namespace kqget {

// What the transfer shares with its workers; defined beside them.
struct WinHttpTransferState;

// HTTP GETs over WinHTTP, each on a worker thread of its own with its own
// session, since a blocked WinHTTP call cannot be cut short from outside.
// Finished fetches are queued for the run's thread, which collects them in
// waitForFinished(). abandonAll() returns at once: the workers under way are
// left to end on their own and their results are dropped, and new fetches go
// to new workers. Without a named proxy, the system's settings choose
// (winhttp_proxy.h). waitForFinished() throws RunError when a worker could
// not report its fetch at all (no memory left for it).
class WinHttpTransfer final : public TransferPort
{
public:
    explicit WinHttpTransfer(TransferOptions options = {});
    ~WinHttpTransfer() override;
    WinHttpTransfer(const WinHttpTransfer&) = delete;
    WinHttpTransfer& operator=(const WinHttpTransfer&) = delete;

    void start(FetchTicket ticket, std::string_view url, std::shared_ptr<BodySink> body) override;
    std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds timeout) override;
    void abandonAll() noexcept override;

private:
    std::shared_ptr<WinHttpTransferState> m_shared;
};

} // namespace kqget
