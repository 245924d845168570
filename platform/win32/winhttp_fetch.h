#pragma once

#include "platform/transfer_limit_text.h"
#include "platform/win32/winhttp_proxy.h"
#include "platform/zlib_stream.h"
#include "update/transfer_port.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

class WinHttpTransfer;

using WinHttpOutcome = std::variant<FetchResult, FetchFailure>;

// The value of one of a reply's headers (a WINHTTP_QUERY_ constant), when
// it is there.
std::optional<std::string> replyHeader(HINTERNET request, DWORD query);

// One GET over the transfer's asynchronous session, from its request's
// opening to its body's last byte. WinHTTP's threads drive it through the
// status callback: each completion starts the next call. The body goes into
// the sink as it is read: decoded from gzip or deflate where WinHTTP left
// them, refused over the cap (counted in decoded bytes) whether announced or
// not, given up when slower than the slowest pace over a whole stall time-out;
// a body in any other coding is not read. However the fetch ends (its reply
// read, a failure, a stop from the run's thread) its request handle is closed
// exactly once, and the transfer hears of it when WinHTTP has let it go.
class WinHttpFetch
{
public:
    // What the transfer's session gives every handle's status callback.
    static constexpr DWORD kNotifications =
        WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
        WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_REDIRECT;
    static void CALLBACK onStatus(HINTERNET handle, DWORD_PTR context, DWORD status,
                                  void* information, DWORD length) noexcept;

    WinHttpFetch(WinHttpTransfer& transfer, FetchTicket ticket, std::string url,
                 std::shared_ptr<BodySink> sink);
    WinHttpFetch(const WinHttpFetch&) = delete;
    WinHttpFetch& operator=(const WinHttpFetch&) = delete;

    // Sends the request the transfer opened for it; from here its end comes
    // through the transfer, and the fetch may be gone when this returns.
    void send() noexcept;

private:
    friend class WinHttpTransfer;

    void advance(DWORD status, void* information, DWORD length);
    void headersAvailable();
    void askForData();
    void take(std::string_view bytes);
    // Gives the sink `decoded`; the outcome the fetch stops with, if any.
    std::optional<WinHttpOutcome> deliver(std::string_view decoded);
    void endOfBody();
    void fail(const char* call, DWORD error);
    // Closes the handle with `outcome`, unless it is closed already; none:
    // the outcome could not be made for want of memory.
    void finish(std::optional<WinHttpOutcome> outcome) noexcept;

    WinHttpTransfer& m_transfer;
    const FetchTicket m_ticket;
    const std::string m_url;
    const std::shared_ptr<BodySink> m_sink;
    const std::chrono::steady_clock::time_point m_deadline;
    std::wstring m_wireUrl;
    UniqueInternet m_connection;
    UniqueInternet m_opened; // the request until it is sent
    HINTERNET m_handle = nullptr;
    bool m_secure = false;
    bool m_decodedBySystem = false; // WinHTTP undoes gzip and deflate itself
    DWORD m_secureFailureFlags = 0;
    int m_redirects = 0;
    bool m_answeredProxy = false;

    // The reply as it comes.
    FetchResult m_result;
    std::unique_ptr<char[]> m_buffer;
    std::string m_coding; // "gzip" or "deflate" when kqget undoes it
    std::unique_ptr<ZlibStream> m_inflate;
    std::optional<std::uint64_t> m_announced; // its length as the reply came
    std::uint64_t m_received = 0;
    std::uint64_t m_delivered = 0;
    PaceWindow m_pace; // from the body's start

    // Under the transfer's lock.
    bool m_ending = false;
    bool m_abandoned = false;
    bool m_outOfMemory = false;
    WinHttpOutcome m_outcome;
    bool m_certificateRefused = false; // to be looked at for its reason
};

} // namespace kqget
