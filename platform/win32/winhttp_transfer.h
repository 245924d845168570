#pragma once

#include "platform/transfer_options.h"
#include "platform/win32/winhttp_fetch.h"
#include "platform/win32/winhttp_proxy.h"
#include "update/transfer_port.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kqget {

// HTTP GETs over one asynchronous WinHTTP session, whose connections its
// fetches share host by host. WinHTTP's own threads move each fetch along
// (winhttp_fetch.h) and write its body into its sink; the run's thread
// collects the finished ones in waitForFinished(), which also ends any fetch
// past its total time limit. abandonAll() closes the request handles under
// way and returns at once; the transfer's destructor waits until WinHTTP has
// let every one of them go, so nothing of a fetch outlives it.
// waitForFinished() throws RunError when a fetch could not be reported at
// all (no memory left for it).
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
    friend class WinHttpFetch;

    // A finished fetch, and the URL whose server's refused certificate is to
    // be looked at for its reason.
    struct Ended
    {
        FinishedFetch fetch;
        std::wstring refusedUrl;
    };

    // Opens `fetch`'s request on the session, through the proxy; the failure
    // when it cannot be. Nothing of WinHTTP's reaches the fetch before it is sent.
    std::optional<FetchFailure> open(WinHttpFetch& fetch);
    // Why `fetch` failed in `call` with `error`, in words a user can act on;
    // a refused certificate whose reason is still to be found is marked.
    FetchFailure explained(WinHttpFetch& fetch, const char* call, DWORD error);
    // WinHTTP has let go of `fetch`'s request: its outcome is reported.
    void closed(WinHttpFetch& fetch) noexcept;
    // Stops the first live fetch `wanted` picks with `failure` (none:
    // abandoned), the lock released while its handle is closed; false when
    // none is left to stop.
    template <typename Wanted>
    bool stopOne(std::unique_lock<std::mutex>& lock, Wanted wanted,
                 const std::optional<FetchFailure>& failure) noexcept;

    const TransferOptions m_options;
    std::optional<WinHttpProxy> m_proxy;
    std::optional<FetchFailure> m_setupFailure; // e.g. a proxy WinHTTP cannot use
    UniqueInternet m_session;

    std::mutex m_mutex; // guards what follows, and the fetches' ending
    std::condition_variable m_changed;
    std::unordered_map<WinHttpFetch*, std::unique_ptr<WinHttpFetch>> m_live;
    std::vector<Ended> m_ended;
    bool m_outOfMemory = false; // a fetch ended and could not be reported
};

} // namespace kqget
