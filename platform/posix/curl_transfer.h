#pragma once

#include "platform/posix/curl_fetch.h"
#include "platform/transfer_options.h"
#include "update/transfer_port.h"

#include <list>
#include <optional>
#include <vector>

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
    UniqueEasy takeEasy();
    void collectFinished();
    void recycle(CurlFetch& fetch);
    void checkTimeLimits();
    // Every fetch under way, each failing with `failure` if given.
    void endAll(const std::optional<FetchFailure>& failure);

    TransferOptions m_options;
    UniqueMulti m_multi;
    // A list, so that the address each handle's callbacks hold stays put.
    std::list<CurlFetch> m_underWay;
    std::vector<UniqueEasy> m_spareEasy;
    std::vector<FinishedFetch> m_finished;
};

} // namespace kqget
