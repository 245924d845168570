#pragma once

#include "platform/transfer_options.h"
#include "platform/win32/winhttp_request.h"
#include "update/transfer_port.h"

#include <cstddef>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

// Reads the reply to a request WinHTTP has received the headers of: its
// status and Retry-After, and its body into `sink`, refused over the options'
// body size cap whether announced or not, and given up when slower than their
// slowest pace over a whole stall time-out. `decoding`: WinHTTP undoes gzip and
// deflate; a body in any other coding is not read.
WinHttpOutcome readWinHttpReply(HINTERNET request, BodySink& sink, const TransferOptions& options,
                                bool decoding);

} // namespace kqget
