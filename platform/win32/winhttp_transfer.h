#pragma once

#include "platform/transfer_options.h"
#include "platform/win32/winhttp_fetch.h"
#include "platform/win32/winhttp_request.h"
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
// let every one of them go, so nothing of a fetch outlives it. Without a
// named proxy, the system's settings choose (winhttp_proxy.h).
// waitForFinished() throws RunError when a fetch could not be reported at
// all (no memory left for it).
class WinHttpTransfer final : public TransferPort, private WinHttpFetchOwner
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
    // A finished fetch, and the server to ask why its certificate was refused.
    struct Ended
    {
        FinishedFetch fetch;
        std::optional<RefusedServer> refused;
    };

    void fetchClosed(WinHttpFetch& fetch) noexcept override;
    // Stops the first live fetch `wanted` picks with `failure`, the lock
    // released while its handle is closed; false when none is left to stop.
    template <typename Wanted>
    bool stopOne(std::unique_lock<std::mutex>& lock, Wanted wanted,
                 const std::optional<FetchFailure>& failure) noexcept;
    // A synchronous session, for what WinHTTP answers only by blocking: the
    // automatic proxy configuration and the look at a refused certificate.
    HINTERNET blockingSession();
    void namedCertificateFailures(std::vector<Ended>& ended);

    const TransferOptions m_options;
    WinHttpSessionSettings m_settings;
    std::optional<FetchFailure> m_settingsFailure; // e.g. a proxy WinHTTP cannot use
    UniqueInternet m_session;
    UniqueInternet m_blockingSession;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unordered_map<WinHttpFetch*, std::unique_ptr<WinHttpFetch>> m_live;
    std::vector<Ended> m_ended;
    bool m_outOfMemory = false; // a fetch ended and could not be reported
};

} // namespace kqget
