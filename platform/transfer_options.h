#pragma once

#include "update/service_bases.h"
#include "update/transfer_port.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kqget {

// What one read from a connection takes at most: a card's illustration, a few
// tens of KB, comes in one or two reads rather than a read per 16 KiB.
inline constexpr std::size_t kReceiveBufferBytes = 128 * 1024;

// How a transfer goes about its fetches, on every platform.
struct TransferOptions
{
    std::chrono::milliseconds connectTimeout{60'000};
    // How long a reply may go without a single byte. Not a limit on the whole
    // transfer: a slow but steady body never reaches it.
    std::chrono::milliseconds stallTimeout{60'000};
    // A reply slower than this over a whole stallTimeout is given up as a
    // silent one is: one byte a second would otherwise hold a fetch for hours.
    std::uint64_t slowestBytesPerSecond = 1024;
    // What one fetch may take in all, from its start to its body's end, however
    // steadily the bytes come: a body trickled just above the pace above
    // would otherwise hold a fetch for the hours its size cap allows.
    std::chrono::milliseconds totalTimeout{10 * 60'000};
    long maxRedirects = 10;
    std::size_t bodySizeCap = kBodySizeCapBytes;
    // An HTTP proxy for every fetch, credentials in its URL if it asks for
    // them; empty: the system's (on POSIX the environment's http_proxy,
    // https_proxy, all_proxy and no_proxy, on Windows the user's settings).
    std::string proxy{};
    // PEM file of the authorities an https:// server's certificate must chain
    // to; empty means the system's CA store. Windows always uses its own store.
    std::string caBundlePath{};
    // The service's bases and what set them, named when a host of theirs
    // cannot be found; empty: none named.
    ServiceBases bases{};
};

} // namespace kqget
