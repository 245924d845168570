#include "platform/posix/curl_transfer.h"

#include "update/run_error.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

namespace kqget {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Stalls and the total time limit are checked at least this often while the
// caller waits.
constexpr milliseconds kStallCheckInterval{100};

FetchFailure multiFailure(CURLMcode code)
{
    return {ErrorNumber::Transfer,
            "curl multi error " + std::to_string(code) + ": " + curlLibrary().multi_strerror(code)};
}

} // namespace

CurlTransfer::CurlTransfer(TransferOptions options) : m_options(std::move(options)) {}

CurlTransfer::~CurlTransfer()
{
    abandonAll();
}

void CurlTransfer::start(FetchTicket ticket, std::string_view url, std::shared_ptr<BodySink> sink)
{
    CurlFetch& fetch = m_underWay.emplace_back(ticket, std::move(sink));
    fetch.url = url;
    std::optional<FetchFailure> failure;
    try {
        // Set up on the first fetch: a run over a library in order never pays
        // for libcurl's handles, its connection cache or its TLS set-up. A
        // failure to set libcurl up is reported by every fetch.
        if (!m_multi) {
            m_multi = makeMulti();
        }
        fetch.easy = takeEasy();
        fetch.prepare(m_options.bodySizeCap);
        fetch.proxy = aimEasy(fetch.easy.get(), url, m_options);
        if (const CURLMcode code = curlLibrary().multi_add_handle(m_multi.get(), fetch.easy.get());
            code != CURLM_OK) {
            failure = multiFailure(code);
        }
    } catch (const RunError& error) {
        failure = FetchFailure{error.number(), error.what()};
    }
    if (failure) {
        m_underWay.pop_back();
        m_finished.push_back({ticket, std::move(*failure)});
    }
}

std::vector<FinishedFetch> CurlTransfer::waitForFinished(milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    if (!m_multi) {
        return std::exchange(m_finished, {});
    }
    for (;;) {
        int running = 0;
        if (const CURLMcode code = curlLibrary().multi_perform(m_multi.get(), &running);
            code != CURLM_OK) {
            endAll(multiFailure(code));
        }
        collectFinished();
        checkTimeLimits();
        const Clock::time_point now = Clock::now();
        if (!m_finished.empty() || now >= deadline) {
            return std::exchange(m_finished, {});
        }
        const auto wait = std::clamp(std::chrono::duration_cast<milliseconds>(deadline - now),
                                     milliseconds{1}, kStallCheckInterval);
        if (const CURLMcode code = curlLibrary().multi_poll(
                m_multi.get(), nullptr, 0, static_cast<int>(wait.count()), nullptr);
            code != CURLM_OK) {
            endAll(multiFailure(code));
        }
    }
}

void CurlTransfer::abandonAll() noexcept
{
    endAll(std::nullopt);
    m_finished.clear();
}

// Easy handles are kept for the next fetch with their settings, so only
// the first fetches of a run pay for setting them up.
UniqueEasy CurlTransfer::takeEasy()
{
    if (m_spareEasy.empty()) {
        return makeEasy(m_options);
    }
    UniqueEasy easy = std::move(m_spareEasy.back());
    m_spareEasy.pop_back();
    return easy;
}

void CurlTransfer::collectFinished()
{
    int queued = 0;
    while (const CURLMsg* message = curlLibrary().multi_info_read(m_multi.get(), &queued)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        CurlFetch* fetch = nullptr;
        curlLibrary().easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &fetch);
        const CURLcode result = message->data.result;
        curlLibrary().multi_remove_handle(m_multi.get(), fetch->easy.get());
        m_finished.push_back(fetch->outcome(result, m_options.bases));
        m_spareEasy.push_back(std::move(fetch->easy));
        m_underWay.remove_if([fetch](const CurlFetch& each) { return &each == fetch; });
    }
}

void CurlTransfer::checkTimeLimits()
{
    const Clock::time_point now = Clock::now();
    const auto window = m_options.stallTimeout;
    for (auto it = m_underWay.begin(); it != m_underWay.end();) {
        std::optional<std::string> reason;
        if (now - it->started > m_options.totalTimeout) {
            reason = tookTooLongText(m_options.totalTimeout);
        } else if (it->requestSent && now - it->lastByte > window) {
            reason =
                "no data received for " + std::to_string(window.count()) + " ms (stall time-out)";
        } else if (it->requestSent && now - it->lastByte < window / 2) {
            // A reply gone silent is left to the stall time-out, which names it so.
            reason = it->pace.judge(now, m_options);
        }
        if (!reason) {
            ++it;
            continue;
        }
        // Its connection is closed, not pooled: the reply may still come.
        curlLibrary().multi_remove_handle(m_multi.get(), it->easy.get());
        m_finished.push_back(
            {it->ticket, FetchFailure{ErrorNumber::TransferTimeout, std::move(*reason)}});
        it = m_underWay.erase(it);
    }
}

// Taking a handle out halfway closes its connection rather than returning
// it to the pool, so nothing of an abandoned reply is read by the next.
void CurlTransfer::endAll(const std::optional<FetchFailure>& failure)
{
    for (CurlFetch& fetch : m_underWay) {
        curlLibrary().multi_remove_handle(m_multi.get(), fetch.easy.get());
        if (failure) {
            m_finished.push_back({fetch.ticket, *failure});
        }
    }
    m_underWay.clear();
}

} // namespace kqget
