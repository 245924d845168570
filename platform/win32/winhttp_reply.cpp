#include "platform/win32/winhttp_reply.h"

#include "platform/content_coding.h"
#include "platform/retry_after.h"
#include "platform/win32/wide_text.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kqget {

namespace {

// The value of one response header, when it is there.
std::optional<std::wstring> headerText(HINTERNET request, const wchar_t* name)
{
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, text.data(), &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

// Gives up a body that comes, but too slowly to end in any useful time: the
// system's receive time-out only catches one that stops. Counted over whole
// stall time-outs from the first read, as the libcurl transfer does.
class PaceWatch
{
public:
    explicit PaceWatch(const TransferOptions& options)
        : m_options(options),
          m_slowest(options.slowestBytesPerSecond *
                    static_cast<std::uint64_t>(options.stallTimeout.count()) / 1000)
    {}

    // After a read of `got` bytes: the failure, when the window just ended
    // below the pace.
    std::optional<FetchFailure> afterRead(std::uint64_t got)
    {
        const Clock::time_point now = Clock::now();
        m_bytes += got;
        if (now - m_start < m_options.stallTimeout) {
            return std::nullopt;
        }
        if (m_bytes < m_slowest) {
            return FetchFailure{
                ErrorNumber::TransferTimeout,
                "slower than " + std::to_string(m_options.slowestBytesPerSecond) + " bytes/s for " +
                    std::to_string(m_options.stallTimeout.count()) + " ms (low-speed time-out)"};
        }
        m_start = now;
        m_bytes = 0;
        return std::nullopt;
    }

private:
    using Clock = std::chrono::steady_clock;
    const TransferOptions& m_options;
    const std::uint64_t m_slowest;
    Clock::time_point m_start = Clock::now();
    std::uint64_t m_bytes = 0;
};

} // namespace

WinHttpOutcome readWinHttpReply(HINTERNET request, BodySink& sink, const TransferOptions& options,
                                bool decoding)
{
    const std::size_t bodySizeCap = options.bodySizeCap;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return winHttpFailure("WinHttpQueryHeaders", ::GetLastError());
    }
    FetchResult result;
    result.httpStatus = static_cast<long>(status);
    if (const auto retryAfter = headerText(request, L"Retry-After")) {
        result.retryAfter = retryAfterWait(toUtf8(*retryAfter), std::time(nullptr));
    }
    if (const auto coding = headerText(request, L"Content-Encoding")) {
        result.undecodedEncoding =
            decoding ? undecodableCoding(toUtf8(*coding), {"gzip", "x-gzip", "deflate"})
                     : undecodableCoding(toUtf8(*coding), {});
        if (!result.undecodedEncoding.empty()) {
            if (!sink.begin(result.httpStatus, std::nullopt)) {
                return FetchFailure{ErrorNumber::Transfer, "the body could not be kept"};
            }
            return result;
        }
    }
    // An announced oversized body is refused before it comes; an
    // unannounced one is caught while it is read.
    std::optional<std::uint64_t> announced;
    if (const auto length = headerText(request, L"Content-Length")) {
        const std::string digits = toUtf8(*length);
        unsigned long long value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc()) {
            announced = value;
        }
    }
    if (announced && *announced > bodySizeCap) {
        result.overSizeCap = true;
        return result;
    }
    if (!sink.begin(result.httpStatus, announced)) {
        return FetchFailure{ErrorNumber::Transfer, "the body could not be kept"};
    }
    const auto buffer = std::make_unique_for_overwrite<char[]>(kReceiveBufferBytes);
    PaceWatch pace(options);
    std::uint64_t received = 0;
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available)) {
            return winHttpFailure("WinHttpQueryDataAvailable", ::GetLastError());
        }
        if (available == 0) {
            return result;
        }
        DWORD got = 0;
        const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(kReceiveBufferBytes));
        if (!::WinHttpReadData(request, buffer.get(), wanted, &got)) {
            return winHttpFailure("WinHttpReadData", ::GetLastError());
        }
        if (got > bodySizeCap - received) {
            result.overSizeCap = true; // what the sink got is no use to anybody
            return result;
        }
        received += got;
        if (!sink.write(std::string_view(buffer.get(), got))) {
            return FetchFailure{ErrorNumber::Transfer, "the body could not be kept"};
        }
        if (auto tooSlow = pace.afterRead(got)) {
            return std::move(*tooSlow);
        }
    }
}

} // namespace kqget
