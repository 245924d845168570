#pragma once

#include "platform/transfer_options.h"
#include "update/transfer_port.h"

#include <memory>

namespace kqget {

// HTTP GETs through one libcurl multi handle, on the caller's thread: no
// worker threads, and one connection pool, so the fetches of a run reuse their
// connections to each host.
class CurlTransfer final : public TransferPort
{
public:
    explicit CurlTransfer(TransferOptions options = {});
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    void start(FetchTicket ticket, std::string_view url, std::shared_ptr<BodySink> body) override;
    std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds timeout) override;
    void abandonAll() noexcept override;

private:
    class FetchLoop;
    FetchLoop& fetchLoop();

    TransferOptions m_options;
    std::unique_ptr<FetchLoop> m_fetchLoop;
};

} // namespace kqget
