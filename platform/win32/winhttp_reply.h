#pragma once

#include "platform/transfer_options.h"
#include "platform/win32/winhttp_request.h"
#include "platform/win32/zlib_body_decoder.h"
#include "update/transfer_port.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

// One reply, from the headers WinHTTP received to the body's last byte: its
// status and Retry-After, and its body into the sink, decoded from gzip or
// deflate where WinHTTP left them, refused over the options' body size cap
// (counted in decoded bytes) whether announced or not, and given up when
// slower than their slowest pace over a whole stall time-out. A body in any
// other coding is not read.
class WinHttpReply
{
public:
    WinHttpReply(BodySink& sink, const TransferOptions& options) : m_sink(sink), m_options(options)
    {}

    // Reads the headers of `request`. The outcome when the fetch ends here
    // (no body to read); none when the body is to be read.
    // `decoding`: WinHTTP undoes gzip and deflate itself.
    std::optional<WinHttpOutcome> begin(HINTERNET request, bool decoding);

    // The body's next bytes as they came. The outcome when the fetch ends
    // here (over the cap, too slow, damaged, not kept); none to read on.
    std::optional<WinHttpOutcome> take(std::string_view bytes);

    // The body ended.
    WinHttpOutcome end();

private:
    bool deliver(std::string_view decoded);

    BodySink& m_sink;
    const TransferOptions& m_options;
    FetchResult m_result;
    std::unique_ptr<ZlibBodyDecoder> m_decoder;
    std::uint64_t m_delivered = 0;
    std::optional<WinHttpOutcome> m_stop; // set by deliver()
    // The pace, counted over whole stall time-outs from the body's start.
    std::chrono::steady_clock::time_point m_paceStart{};
    std::uint64_t m_paceBytes = 0;
};

} // namespace kqget
