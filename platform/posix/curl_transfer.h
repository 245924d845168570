#pragma once

#include "platform/posix/curl_library.h"
#include "platform/proxy_url.h"
#include "platform/transfer_limit_text.h"
#include "platform/transfer_options.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kqget {

// The libcurl client: the transfer (curl_transfer.cpp), the set-up of libcurl
// and of each fetch (curl_request.cpp), and what comes of each (curl_reply.cpp).

struct EasyCleanup
{
    void operator()(CURL* easy) const noexcept { curlLibrary().easy_cleanup(easy); }
};
struct MultiCleanup
{
    void operator()(CURLM* multi) const noexcept { curlLibrary().multi_cleanup(multi); }
};
using UniqueEasy = std::unique_ptr<CURL, EasyCleanup>;
using UniqueMulti = std::unique_ptr<CURLM, MultiCleanup>;

// A multi handle that keeps every job's connection between fetches; the
// first loads and initialises libcurl for the process. Throws RunError when
// libcurl cannot make one.
UniqueMulti makeMulti();

// A handle with every setting a fetch shares with the others; it keeps them
// from fetch to fetch. Throws RunError.
UniqueEasy makeEasy(const TransferOptions& options);

// Aims a handle at one URL, as the run formed it, through the proxy that
// `options` or the environment choose for it, which it returns. Throws RunError.
std::optional<ProxyUrl> aimEasy(CURL* easy, std::string_view url, const TransferOptions& options);

template <typename Value> void setOption(CURL* easy, CURLoption option, Value value)
{
    const CURLcode code = curlLibrary().easy_setopt(easy, option, value);
    if (code != CURLE_OK) {
        throw RunError(ErrorNumber::Transfer,
                       "cannot set up libcurl: option " + std::to_string(option) + ": curl error " +
                           std::to_string(code) + ": " + curlLibrary().easy_strerror(code));
    }
}

// One GET under way through libcurl, and what has come of it so far: its
// body goes into the run's sink as it is read.
struct CurlFetch
{
    using Clock = std::chrono::steady_clock;

    CurlFetch(FetchTicket ticket, std::shared_ptr<BodySink> sink)
        : ticket(ticket), sink(std::move(sink))
    {}

    // Points the handle's callbacks at this fetch. Throws RunError.
    void prepare(std::size_t bodySizeCap);

    // What came of the fetch, once libcurl has said it is done; `bases` tell
    // where a host that cannot be found was set.
    FinishedFetch outcome(CURLcode result, const ServiceBases& bases);

    FetchTicket ticket;
    std::shared_ptr<BodySink> sink;
    std::string url; // as asked for, before any redirect
    UniqueEasy easy;
    const Clock::time_point started = Clock::now(); // the total time limit counts from here
    bool requestSent = false;                       // from here on the stall clock runs
    Clock::time_point lastByte = Clock::now();
    PaceWindow pace;
    std::optional<ProxyUrl> proxy; // none: straight to the server

private:
    bool begin();
    static size_t onBody(char* data, size_t size, size_t count, void* context) noexcept;
    static size_t onHeader(char* data, size_t size, size_t count, void* context) noexcept;
    static int onRequest(void* context, char*, char*, int, int) noexcept;

    std::array<char, CURL_ERROR_SIZE> m_errorBuffer{};
    std::size_t m_bodyCap = kBodySizeCapBytes;
    std::uint64_t m_received = 0;
    bool m_begun = false; // the sink knows the reply
    bool m_overSizeCap = false;
    bool m_sinkRefused = false;
};

// HTTP GETs through one libcurl multi handle, on the caller's thread: no
// worker threads, and one connection pool, so the fetches of a run reuse their
// connections to each host.
class CurlTransfer final : public TransferPort
{
public:
    explicit CurlTransfer(TransferOptions options = {});
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    void start(FetchTicket ticket, std::string_view url, std::shared_ptr<BodySink> body) override;
    std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds timeout) override;
    void abandonAll() noexcept override;

private:
    UniqueEasy takeEasy();
    void collectFinished();
    void checkTimeLimits();
    // Every fetch under way, each failing with `failure` if given.
    void endAll(const std::optional<FetchFailure>& failure);

    TransferOptions m_options;
    UniqueMulti m_multi;
    // A list, so that the address each handle's callbacks hold stays put.
    std::list<CurlFetch> m_underWay;
    std::vector<UniqueEasy> m_spareEasy;
    std::vector<FinishedFetch> m_finished;
};

} // namespace kqget
