#pragma once

#include "tools/card-service/fault.h"
#include "tools/card-service/request_target.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace httplib {
struct Response;
}

namespace kqget::testing {

// What the service answers, and how a fault bends the answer.

struct Reply
{
    int status = 200;
    std::string body;
    std::string contentType;
};

Reply errorReply(int status);

// The card a target asks for, or the error page for a target that asks for none.
Reply contentFor(const RequestTarget& target);

// A redirect chain is "/hop/<hops still to go><origin form>", so each hop
// needs no state in the service and the last one serves the real content.
struct Hop
{
    int remaining = 0;
    std::string_view rest;
};

std::optional<Hop> parseHop(std::string_view originForm);

std::string hopTarget(int remaining, std::string_view originForm);

void redirect(httplib::Response& response, const std::string& location);

// Waits unless the service is stopping; false when it is.
using Pause = std::function<bool(std::chrono::milliseconds)>;

// Sends `reply` as `fault` shapes its body: stalled, dripped, dropped halfway,
// chunked, emptied, padded or oversized. The body is produced after this
// returns, so it keeps a copy of `pause` for its waits.
void sendReply(httplib::Response& response, Reply reply, const Fault& fault, const Pause& pause);

} // namespace kqget::testing
