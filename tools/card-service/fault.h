#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace kqget::testing {

// What the service does wrong for a request that a rule matches. The fields
// combine: a delay, then the reply; a body can stall, drip and be dropped.
struct Fault
{
    // Outside 2xx, an error page with it; 203 the content; 204 and 205 no
    // body; 206 the content's first half, as a range nobody asked for.
    int status = 200;
    std::chrono::milliseconds delay{0};             // before any byte, headers included
    std::chrono::milliseconds stallAfterHeaders{0}; // headers sent, body held back
    std::size_t dripBytes = 0;                      // send the body this many bytes at a time...
    std::chrono::milliseconds dripPause{0};         // ...with this pause between pieces
    bool dropMidBody = false;                       // announce the whole length, send half, close
    bool chunkedBody = false;   // no Content-Length: the length shows only at the end
    bool emptyBody = false;     // 200 with nothing in it
    int redirectHops = 0;       // this many redirects before the real content
    bool redirectLoop = false;  // redirect to the same target, forever
    std::string redirectTo{};   // a redirect to this URL followed by the request's own target
    bool oversizedBody = false; // a chunked body over the client's 64 MiB cap
    // A 200 body of this many bytes, announced: the content's start, then filler.
    std::size_t bodyBytes = 0;
    std::string retryAfter{};      // a Retry-After header sent with the error status
    std::string body{};            // a 200 body of exactly this text instead of the content
    std::size_t cutAt = 0;         // the content cut after this many bytes, as if whole
    bool gzipBody = false;         // the content gzip-encoded, whatever the client offered
    std::string contentEncoding{}; // this Content-Encoding, the body as it is
    int times = 0; // the fault hits only the first n requests of each target; 0: all
    // As a proxy that asks for credentials: without Proxy-Authorization Basic
    // for "user:password", a 407 with Proxy-Authenticate.
    std::string proxyUser{};
    std::string proxyPassword{};
    bool heldUntilReleased = false; // no byte until CardService::releaseHeld(), after `delay`
};

} // namespace kqget::testing
