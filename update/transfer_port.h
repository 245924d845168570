#pragma once

#include "update/run_error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kqget {

// A body longer than this is not kept: no card file is anywhere near it.
inline constexpr std::size_t kBodySizeCapMiB = 64;
inline constexpr std::size_t kBodySizeCapBytes = kBodySizeCapMiB * 1024 * 1024;

// Names one fetch between start() and its finish; the run hands them out.
using FetchTicket = std::uint64_t;

// Where a fetch's body goes as it arrives. A transfer may call it from a
// thread of its own, one call at a time; it keeps the sink alive while it does.
class BodySink
{
public:
    virtual ~BodySink() = default;

    // A reply begins: its status, and its length when the reply announced it.
    // Comes before the first write() and before the reply is reported, also
    // for an empty body; again when the same fetch goes out once more, which
    // drops what the earlier reply wrote. False stops the fetch.
    virtual bool begin(long httpStatus, std::optional<std::uint64_t> length) noexcept = 0;

    // The body's next bytes, decoded from any content coding the transfer
    // offered. False stops the fetch: the sink cannot keep them.
    virtual bool write(std::string_view bytes) noexcept = 0;
};

// Whether a reply's status is one whose body may replace a card file: the
// whole resource, from its origin or through a transforming proxy. A 204 or a
// 205 has no body and a 206 is a piece nobody asked for; a card file replaced
// by either would be lost.
inline bool isContentStatus(long httpStatus)
{
    return httpStatus == 200 || httpStatus == 203;
}

// The outcome of one GET that reached the server and got a reply; its body
// went into the fetch's sink.
struct FetchResult
{
    long httpStatus = 0;
    bool overSizeCap = false; // the body was longer than the cap: what the sink got is junk
    // The reply's Retry-After, as a wait from now: delay-seconds as given, an
    // HTTP date less the current time (0 when already past). Absent or
    // unreadable: none.
    std::optional<std::chrono::seconds> retryAfter{};
    // The body came in a content coding the transfer cannot undo (its name as
    // the reply gave it); what the sink got is junk. Empty when decoded.
    std::string undecodedEncoding{};
};

// Why a fetch got no reply at all: no connection, a time-out, a dropped
// connection, too many redirects. The reason names no URL: the run adds the
// URL as the user may see it, with the account key hidden.
struct FetchFailure
{
    ErrorNumber number = ErrorNumber::Transfer;
    std::string reason; // e.g. "curl error 7: Couldn't connect to server (...)"
};

struct FinishedFetch
{
    FetchTicket ticket = 0;
    std::variant<FetchResult, FetchFailure> outcome;
};

// HTTP GETs of whole URLs, several at once. The run decides how many are under
// way (it never starts more than its limit) and in which order results count;
// the transfer only moves bytes.
class TransferPort
{
public:
    virtual ~TransferPort() = default;

    // Begins a GET of `url` whose body goes into `body`. Nothing is reported
    // here: even a failure that happens at once comes back from
    // waitForFinished() under `ticket`.
    virtual void start(FetchTicket ticket, std::string_view url,
                       std::shared_ptr<BodySink> body) = 0;

    // Returns every fetch that has finished since the last call, waiting up to
    // `timeout` for the first one; with none under way it just waits out the
    // `timeout`, so a caller can loop on it. Never blocks longer than that.
    virtual std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds timeout) = 0;

    // Drops every fetch under way at once, without waiting for any of them;
    // none of them is reported afterwards, though a sink may still be written
    // to until its fetch's thread notices. The object stays usable.
    virtual void abandonAll() noexcept = 0;
};

} // namespace kqget
