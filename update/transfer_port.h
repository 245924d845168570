#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace kqget {

// A body longer than this is not kept: no card file is anywhere near it.
inline constexpr std::size_t kBodySizeCapMiB = 64;
inline constexpr std::size_t kBodySizeCapBytes = kBodySizeCapMiB * 1024 * 1024;

// The outcome of one GET that reached the server and got a reply.
struct FetchResult
{
    long httpStatus = 0;
    std::string body;         // the bytes as received, never interpreted
    bool overSizeCap = false; // the body was longer than the cap and was dropped
};

// Thrown by get() when the user's stop request cut a transfer short. A stalled
// server would otherwise hold the stop back for as long as the time-outs run;
// the run ends there as at a safe point, with nothing of the reply stored.
class TransferStopped : public std::exception
{
public:
    const char* what() const noexcept override { return "transfer stopped at the user's request"; }
};

// One synchronous HTTP GET of a whole URL.
class TransferPort
{
public:
    virtual ~TransferPort() = default;

    // Throws RunError when no reply can be had: no connection, a time-out,
    // a dropped connection, too many redirects; TransferStopped on a stop.
    virtual FetchResult get(std::string_view url) = 0;
};

} // namespace kqget
