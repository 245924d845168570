#pragma once

#include "platform/posix/curl_request.h"
#include "update/transfer_port.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kqget {

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
    std::optional<ChosenProxy> proxy; // none: straight to the server
    // Bytes of the reply since `pace` began: a reply that only drips is
    // given up as a silent one is.
    Clock::time_point paceStart = Clock::now();
    std::uint64_t paceBytes = 0;

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
    bool m_proxyAsksCredentials = false; // a 407, which no card file may take
};

} // namespace kqget
