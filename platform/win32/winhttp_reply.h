#pragma once

#include "platform/win32/winhttp_request.h"
#include "update/transfer_port.h"

#include <cstddef>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

// Reads the reply to a request WinHTTP has received the headers of: its
// status and Retry-After, and its body into `sink`, refused over
// `bodySizeCap` bytes whether announced or not. `decoding`: WinHTTP undoes
// gzip and deflate; a body in any other coding is not read.
WinHttpOutcome readWinHttpReply(HINTERNET request, BodySink& sink, std::size_t bodySizeCap,
                                bool decoding);

} // namespace kqget
