#pragma once

#include "platform/transfer_options.h"
#include "platform/win32/winhttp_certificate_probe.h"
#include "platform/win32/winhttp_reply.h"
#include "platform/win32/winhttp_request.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

class WinHttpFetch;

// Hears of a fetch's end: the close of its request handle, the last thing
// WinHTTP says about it. Called on whichever thread WinHTTP closes it.
class WinHttpFetchOwner
{
public:
    virtual void fetchClosed(WinHttpFetch& fetch) noexcept = 0;

protected:
    ~WinHttpFetchOwner() = default;
};

// One GET over an asynchronous WinHTTP session. WinHTTP's threads drive it
// through the status callback: each completion starts the next step, and the
// body's bytes go into the sink as they are read. However it ends (its reply
// read, a failure, a stop from the run's thread) its request handle is closed
// exactly once, and its owner hears of it when WinHTTP has let it go.
class WinHttpFetch
{
public:
    // What the transfer's session gives every handle's status callback.
    static constexpr DWORD kNotifications =
        WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
        WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_REDIRECT;
    static void CALLBACK onStatus(HINTERNET handle, DWORD_PTR context, DWORD status,
                                  void* information, DWORD length) noexcept;

    WinHttpFetch(WinHttpFetchOwner& owner, FetchTicket ticket, std::string url,
                 std::shared_ptr<BodySink> sink, const TransferOptions& options,
                 const std::optional<ProxyUrl>& namedProxy, WinHttpRequest request);
    WinHttpFetch(const WinHttpFetch&) = delete;
    WinHttpFetch& operator=(const WinHttpFetch&) = delete;

    // Sends the request, unless it cannot be told apart from the session's
    // other handles: then the failure, and the caller closes it. The fetch
    // may be gone when this returns.
    std::optional<FetchFailure> send();

    // Ends the fetch from outside: `failure` becomes its outcome, or with none
    // it is abandoned, never reported. The handle the caller closes, outside
    // the owner's lock; null when the fetch is ending already.
    HINTERNET stop(std::optional<FetchFailure> failure) noexcept;

    // What follows holds once the owner heard of the close.
    FetchTicket ticket() const noexcept { return m_ticket; }
    std::chrono::steady_clock::time_point deadline() const noexcept { return m_deadline; }
    bool ending() noexcept;
    bool abandoned() const noexcept { return m_abandoned; }
    bool outOfMemory() const noexcept { return m_outOfMemory; }
    WinHttpOutcome& outcome() noexcept { return m_outcome; }
    // The server whose refused certificate is to be looked at for its reason.
    const std::optional<RefusedServer>& refusedServer() const noexcept { return m_refused; }

private:
    void advance(DWORD status, void* information, DWORD length);
    void headersAvailable();
    void askForData();
    void dataAvailable(DWORD available);
    void readComplete(DWORD got);
    void fail(const char* call, DWORD error);
    FetchFailure explained(FetchFailure failure, DWORD error);
    void finish(WinHttpOutcome outcome) noexcept;
    void finishWithoutMemory() noexcept;

    WinHttpFetchOwner& m_owner;
    const FetchTicket m_ticket;
    const std::string m_url;
    const std::shared_ptr<BodySink> m_sink;
    const TransferOptions& m_options;
    const std::optional<ProxyUrl>& m_namedProxy;
    WinHttpRequest m_request; // its request handle released into m_handle
    const HINTERNET m_handle; // closed by finish() or by whoever stop() hands it to
    const std::chrono::steady_clock::time_point m_deadline;
    std::unique_ptr<char[]> m_buffer;
    WinHttpReply m_reply;
    DWORD m_secureFailureFlags = 0;
    int m_redirects = 0;
    bool m_answeredProxy = false;

    std::mutex m_mutex; // guards what follows between WinHTTP's threads and the run's
    bool m_ending = false;
    bool m_abandoned = false;
    bool m_outOfMemory = false;
    WinHttpOutcome m_outcome;
    std::optional<RefusedServer> m_refused;
};

} // namespace kqget
