#pragma once

#include "update/transfer_port.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace kqget {

struct TransferOptions
{
    std::chrono::milliseconds connectTimeout{60'000};
    // How long a reply may go without a single byte. Not a limit on the whole
    // transfer: a slow but steady body never reaches it.
    std::chrono::milliseconds stallTimeout{60'000};
    long maxRedirects = 10;
    std::size_t bodySizeCap = kBodySizeCapBytes;
    // An HTTP proxy for every fetch; empty: the environment's (http_proxy,
    // no_proxy), as libcurl reads it by default.
    std::string proxy{};
};

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

    void start(FetchTicket ticket, std::string_view url) override;
    std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds timeout) override;
    void abandonAll() noexcept override;

private:
    class Session;
    Session& session();

    TransferOptions m_options;
    std::unique_ptr<Session> m_session;
};

} // namespace kqget
