#include "platform/win32/winhttp_reply.h"

#include "platform/content_coding.h"
#include "platform/retry_after.h"
#include "platform/win32/wide_text.h"

#include <charconv>
#include <ctime>
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

FetchFailure notKept()
{
    return {ErrorNumber::Transfer, "the body could not be kept"};
}

} // namespace

std::optional<WinHttpOutcome> WinHttpReply::begin(HINTERNET request, bool decoding)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return winHttpFailure("WinHttpQueryHeaders", ::GetLastError());
    }
    m_result.httpStatus = static_cast<long>(status);
    if (const auto retryAfter = headerText(request, L"Retry-After")) {
        m_result.retryAfter = retryAfterWait(toUtf8(*retryAfter), std::time(nullptr));
    }
    if (const auto coding = headerText(request, L"Content-Encoding")) {
        const std::string named = toUtf8(*coding);
        m_result.undecodedEncoding = decoding
                                         ? undecodableCoding(named, {"gzip", "x-gzip", "deflate"})
                                         : undecodableCoding(named, {});
        // Left to kqget: one coding it undoes, as curl undoes it on Linux.
        if (!decoding && ZlibBodyDecoder::undoes(m_result.undecodedEncoding) &&
            undecodableCoding(named, {m_result.undecodedEncoding}).empty()) {
            m_decoder = std::make_unique<ZlibBodyDecoder>(m_result.undecodedEncoding);
            m_result.undecodedEncoding.clear();
        }
        if (!m_result.undecodedEncoding.empty()) {
            if (!m_sink.begin(m_result.httpStatus, std::nullopt)) {
                return notKept();
            }
            return m_result;
        }
    }
    // An announced oversized body is refused before it comes; an
    // unannounced one is caught while it is read. A coded body's length is
    // not its decoded length.
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
    if (announced && *announced > m_options.bodySizeCap) {
        m_result.overSizeCap = true;
        return m_result;
    }
    if (!m_sink.begin(m_result.httpStatus, m_decoder ? std::nullopt : announced)) {
        return notKept();
    }
    m_paceStart = std::chrono::steady_clock::now();
    return std::nullopt;
}

bool WinHttpReply::deliver(std::string_view decoded)
{
    if (decoded.size() > m_options.bodySizeCap - m_delivered) {
        m_result.overSizeCap = true; // what the sink got is no use to anybody
        m_stop = m_result;
        return false;
    }
    m_delivered += decoded.size();
    if (!m_sink.write(decoded)) {
        m_stop = notKept();
        return false;
    }
    return true;
}

std::optional<WinHttpOutcome> WinHttpReply::take(std::string_view bytes)
{
    if (m_decoder) {
        if (auto damage = m_decoder->decode(
                bytes, [this](std::string_view decoded) { return deliver(decoded); })) {
            return FetchFailure{ErrorNumber::Transfer, std::move(*damage)};
        }
    } else {
        deliver(bytes);
    }
    if (m_stop) {
        return std::move(m_stop);
    }
    // The system's receive time-out only catches a body that stops; this one
    // that comes, but too slowly to end in any useful time.
    const auto now = std::chrono::steady_clock::now();
    m_paceBytes += bytes.size();
    if (now - m_paceStart < m_options.stallTimeout) {
        return std::nullopt;
    }
    const std::uint64_t slowest = m_options.slowestBytesPerSecond *
                                  static_cast<std::uint64_t>(m_options.stallTimeout.count()) / 1000;
    if (m_paceBytes < slowest) {
        return FetchFailure{ErrorNumber::TransferTimeout,
                            "slower than " + std::to_string(m_options.slowestBytesPerSecond) +
                                " bytes/s for " + std::to_string(m_options.stallTimeout.count()) +
                                " ms (low-speed time-out)"};
    }
    m_paceStart = now;
    m_paceBytes = 0;
    return std::nullopt;
}

WinHttpOutcome WinHttpReply::end()
{
    if (m_decoder) {
        if (auto cut = m_decoder->finish()) {
            return FetchFailure{ErrorNumber::Transfer, std::move(*cut)};
        }
    }
    return m_result;
}

} // namespace kqget
