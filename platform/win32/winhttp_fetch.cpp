#include "platform/win32/winhttp_fetch.h"

#include "platform/content_coding.h"
#include "platform/retry_after.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/winhttp_transfer.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <new>
#include <utility>

namespace kqget {

namespace {

// The call a WINHTTP_ASYNC_RESULT's dwResult names (API_RECEIVE_RESPONSE is
// 1, API_QUERY_DATA_AVAILABLE 2, API_READ_DATA 3), when one of them failed.
const char* callOf(DWORD_PTR api)
{
    constexpr const char* kCalls[] = {"WinHttpSendRequest", "WinHttpReceiveResponse",
                                      "WinHttpQueryDataAvailable", "WinHttpReadData"};
    return api <= API_READ_DATA ? kCalls[api] : kCalls[0];
}

// "deflate" is meant as the zlib format, but some servers send the raw
// stream; a zlib stream's first two bytes say so by themselves (method 8,
// a window of at most 32 KiB, a multiple of 31).
int deflateWindow(std::string_view start)
{
    const auto first = static_cast<unsigned char>(start[0]);
    const auto second = static_cast<unsigned char>(start.size() > 1 ? start[1] : 0);
    const bool zlib = (first & 0x0F) == 8 && (first >> 4) <= 7 &&
                      (start.size() < 2 || (first * 256 + second) % 31 == 0);
    return zlib ? ZlibStream::kZlib : ZlibStream::kRaw;
}

FetchFailure notKept()
{
    return {ErrorNumber::Transfer, "the body could not be kept"};
}

} // namespace

std::optional<std::string> replyHeader(HINTERNET request, DWORD query)
{
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                          &size, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    text.resize(size / sizeof(wchar_t));
    return toUtf8(text);
}

WinHttpFetch::WinHttpFetch(WinHttpTransfer& transfer, FetchTicket ticket, std::string url,
                           std::shared_ptr<BodySink> sink)
    : m_transfer(transfer), m_ticket(ticket), m_url(std::move(url)), m_sink(std::move(sink)),
      m_deadline(std::chrono::steady_clock::now() + transfer.m_options.totalTimeout),
      m_buffer(std::make_unique_for_overwrite<char[]>(kReceiveBufferBytes)),
      m_outcome(FetchFailure{ErrorNumber::Unexpected, "no outcome"})
{}

void WinHttpFetch::send() noexcept
{
    m_handle = m_opened.release();
    if (!::WinHttpSendRequest(m_handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                              0, 0, reinterpret_cast<DWORD_PTR>(this))) {
        // Ended as a send that fails later is.
        WINHTTP_ASYNC_RESULT result{API_SEND_REQUEST, ::GetLastError()};
        onStatus(m_handle, reinterpret_cast<DWORD_PTR>(this), WINHTTP_CALLBACK_STATUS_REQUEST_ERROR,
                 &result, sizeof result);
    }
}

void CALLBACK WinHttpFetch::onStatus(HINTERNET handle, DWORD_PTR context, DWORD status,
                                     void* information, DWORD length) noexcept
{
    // The session's and the connections' own statuses carry no fetch.
    auto* fetch = reinterpret_cast<WinHttpFetch*>(context);
    if (fetch == nullptr || handle != fetch->m_handle) {
        return;
    }
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        fetch->m_transfer.closed(*fetch);
        return;
    }
    // Nothing may unwind into WinHTTP's frames.
    try {
        fetch->advance(status, information, length);
    } catch (...) {
        const CaughtFailure caught = caughtFailure();
        try {
            fetch->finish(caught.number == ErrorNumber::OutOfMemory
                              ? std::nullopt
                              : std::optional<WinHttpOutcome>(
                                    FetchFailure{caught.number, std::string(caught.description)}));
        } catch (const std::bad_alloc&) {
            fetch->finish(std::nullopt);
        }
    }
}

void WinHttpFetch::advance(DWORD status, void* information, DWORD length)
{
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (information != nullptr && length >= sizeof(DWORD)) {
            m_secureFailureFlags |= *static_cast<const DWORD*>(information);
        }
        return;
    case WINHTTP_CALLBACK_STATUS_REDIRECT:
        ++m_redirects;
        // WinHTTP's policy refuses this too; a close here is the documented
        // way to stop a redirect before it goes out.
        if (information != nullptr) {
            const std::string location = toUtf8(static_cast<const wchar_t*>(information));
            if (leavesHttps(m_url, location)) {
                finish(FetchFailure{ErrorNumber::Transfer, clearTextRedirectText(location)});
            }
        }
        return;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        if (!::WinHttpReceiveResponse(m_handle, nullptr)) {
            fail("WinHttpReceiveResponse", ::GetLastError());
        }
        return;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        headersAvailable();
        return;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: {
        // Only what is there, so that a read never waits for more: a slow
        // body is then seen as slow, not as silent.
        const DWORD available = *static_cast<const DWORD*>(information);
        if (available == 0) {
            endOfBody();
        } else if (!::WinHttpReadData(m_handle, m_buffer.get(),
                                      std::min(available, DWORD{kReceiveBufferBytes}), nullptr)) {
            fail("WinHttpReadData", ::GetLastError());
        }
        return;
    }
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        if (length == 0) {
            endOfBody();
        } else {
            take(std::string_view(m_buffer.get(), length));
        }
        return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto& result = *static_cast<const WINHTTP_ASYNC_RESULT*>(information);
        fail(callOf(result.dwResult), result.dwError);
        return;
    }
    default:
        return;
    }
}

void WinHttpFetch::headersAvailable()
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(m_handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        fail("WinHttpQueryHeaders", ::GetLastError());
        return;
    }
    if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
        if (auto refused = m_transfer.m_proxy->answerChallenge(m_handle, m_answeredProxy)) {
            finish(std::move(*refused));
            return;
        }
        m_answeredProxy = true;
        if (!::WinHttpSendRequest(m_handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0,
                                  reinterpret_cast<DWORD_PTR>(this))) {
            fail("WinHttpSendRequest", ::GetLastError());
        }
        return;
    }
    m_result.httpStatus = static_cast<long>(status);
    if (const auto retryAfter = replyHeader(m_handle, WINHTTP_QUERY_RETRY_AFTER)) {
        m_result.retryAfter = retryAfterWait(*retryAfter, std::time(nullptr));
    }
    const auto named = replyHeader(m_handle, WINHTTP_QUERY_CONTENT_ENCODING);
    if (named) {
        const std::string first = undecodableCoding(*named, {});
        const bool gzip = undecodableCoding(first, {"gzip", "x-gzip"}).empty();
        if (m_decodedBySystem) {
            m_result.undecodedEncoding = undecodableCoding(*named, {"gzip", "x-gzip", "deflate"});
        } else if (!first.empty() && (gzip || undecodableCoding(first, {"deflate"}).empty()) &&
                   undecodableCoding(*named, {first}).empty()) {
            // One coding WinHTTP left, undone by kqget as curl undoes it on Linux.
            m_coding = gzip ? "gzip" : "deflate";
        } else {
            m_result.undecodedEncoding = first;
        }
        if (!m_result.undecodedEncoding.empty()) {
            if (m_sink->begin(m_result.httpStatus, std::nullopt)) {
                finish(m_result);
            } else {
                finish(notKept());
            }
            return;
        }
    }
    // An announced oversized body is refused before it comes; an unannounced
    // one is caught while it is read. A coded body's length is not its
    // decoded length.
    std::optional<std::uint64_t> announced;
    if (const auto length = replyHeader(m_handle, WINHTTP_QUERY_CONTENT_LENGTH)) {
        std::uint64_t value = 0;
        const char* end = length->data() + length->size();
        if (std::from_chars(length->data(), end, value).ec == std::errc()) {
            announced = value;
        }
    }
    // What WinHTTP decoded itself comes in more bytes than announced.
    m_announced = m_decodedBySystem && named ? std::nullopt : announced;
    if (announced && *announced > m_transfer.m_options.bodySizeCap) {
        m_result.overSizeCap = true;
        finish(m_result);
        return;
    }
    if (!m_sink->begin(m_result.httpStatus, m_coding.empty() ? announced : std::nullopt)) {
        finish(notKept());
        return;
    }
    m_pace.restart(std::chrono::steady_clock::now());
    askForData();
}

void WinHttpFetch::askForData()
{
    if (!::WinHttpQueryDataAvailable(m_handle, nullptr)) {
        fail("WinHttpQueryDataAvailable", ::GetLastError());
    }
}

void WinHttpFetch::take(std::string_view bytes)
{
    const TransferOptions& options = m_transfer.m_options;
    std::optional<WinHttpOutcome> stop;
    if (m_coding.empty()) {
        stop = deliver(bytes);
    } else if (!bytes.empty()) {
        if (!m_inflate) {
            m_inflate = std::make_unique<ZlibStream>(m_coding == "gzip" ? ZlibStream::kGzip
                                                                        : deflateWindow(bytes));
        }
        const std::optional<std::string> wrong =
            m_inflate->feed(bytes, [&](std::string_view decoded) {
                stop = deliver(decoded);
                return stop ? std::optional<std::string>("") : std::nullopt;
            });
        // Past the stream's end nothing more is the body's.
        if (wrong && !stop && *wrong != ZlibStream::kAfterEnd) {
            stop = FetchFailure{ErrorNumber::Transfer,
                                "the " + m_coding + " coding of the body is damaged: " + *wrong};
        }
    }
    if (stop) {
        finish(std::move(stop));
        return;
    }
    // The system's receive time-out only catches a body that stops; this one
    // that comes, but too slowly to end in any useful time.
    m_pace.bytes += bytes.size();
    m_received += bytes.size();
    if (auto slow = m_pace.judge(std::chrono::steady_clock::now(), options)) {
        finish(FetchFailure{ErrorNumber::TransferTimeout, std::move(*slow)});
        return;
    }
    askForData();
}

std::optional<WinHttpOutcome> WinHttpFetch::deliver(std::string_view decoded)
{
    if (decoded.size() > m_transfer.m_options.bodySizeCap - m_delivered) {
        m_result.overSizeCap = true; // what the sink got is no use to anybody
        return m_result;
    }
    m_delivered += decoded.size();
    if (!m_sink->write(decoded)) {
        return notKept();
    }
    return std::nullopt;
}

void WinHttpFetch::endOfBody()
{
    // WinHTTP ends a body whose connection closed early as if it were whole.
    if (m_announced && m_received < *m_announced) {
        finish(FetchFailure{ErrorNumber::Transfer,
                            "the connection closed after " + std::to_string(m_received) +
                                " of the body's " + std::to_string(*m_announced) + " bytes"});
    } else if (m_inflate && !m_inflate->ended()) {
        // An empty body is empty whatever its coding says.
        finish(FetchFailure{ErrorNumber::Transfer,
                            "the body ends inside its " + m_coding + " coding"});
    } else {
        finish(m_result);
    }
}

void WinHttpFetch::fail(const char* call, DWORD error)
{
    finish(m_transfer.explained(*this, call, error));
}

void WinHttpFetch::finish(std::optional<WinHttpOutcome> outcome) noexcept
{
    {
        const std::lock_guard lock(m_transfer.m_mutex);
        if (m_ending) {
            return; // stopped from outside: that outcome stands
        }
        m_ending = true;
        if (outcome) {
            m_outcome = std::move(*outcome);
        } else {
            m_outOfMemory = true;
        }
    }
    ::WinHttpCloseHandle(m_handle);
}

} // namespace kqget
