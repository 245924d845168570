#include "tools/card-service/service_reply.h"

#include "tools/card-service/byte_formats.h"
#include "tools/card-service/card_content.h"
#include "update/transfer_port.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <regex>

namespace kqget::testing {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kHopPrefix = "/hop/";
constexpr std::size_t kOversizedBytes = kBodySizeCapBytes + 1024 * 1024;
constexpr std::size_t kFillerPieceBytes = 64 * 1024;

// Writes the body's next piece up to `end`, after the stall or the drip
// pause that comes before it.
bool writePiece(const std::string& body, std::size_t offset, std::size_t end, const Fault& fault,
                httplib::DataSink& sink, const Pause& pause)
{
    if (!pause(offset == 0 ? fault.stallAfterHeaders : fault.dripPause)) {
        return false;
    }
    std::size_t piece = end - offset;
    if (fault.dripBytes > 0 && fault.dripBytes < piece) {
        piece = fault.dripBytes;
    }
    return sink.write(body.data() + offset, piece);
}

// Filler up to `total` bytes, written a piece at a time, so that the service
// never holds a body made of nothing but its size.
bool writeFiller(std::size_t offset, std::size_t total, httplib::DataSink& sink)
{
    static const std::string piece(kFillerPieceBytes, 'x');
    return sink.write(piece.data(), std::min(piece.size(), total - offset));
}

// Chunked, so the client cannot refuse it by its announced length.
void sendOversized(httplib::Response& response, const std::string& contentType)
{
    response.set_chunked_content_provider(contentType,
                                          [](std::size_t offset, httplib::DataSink& sink) {
                                              if (offset >= kOversizedBytes) {
                                                  sink.done();
                                                  return true;
                                              }
                                              return writeFiller(offset, kOversizedBytes, sink);
                                          });
}

// A large body of known length: the content's first bytes, so that it looks
// like the file asked for, then filler; dripped when the fault says so.
void sendPadding(httplib::Response& response, std::size_t bytes, std::string start,
                 const std::string& contentType, const Fault& fault, const Pause& pause)
{
    start.resize(std::min(start.size(), bytes));
    response.set_content_provider(
        bytes, contentType,
        [bytes, start = std::move(start), fault, pause](std::size_t offset, std::size_t,
                                                        httplib::DataSink& sink) {
            if (offset < start.size()) {
                return writePiece(start, offset, start.size(), fault, sink, pause);
            }
            if (fault.dripBytes > 0) {
                static const std::string piece(kFillerPieceBytes, 'x');
                return pause(fault.dripPause) &&
                       sink.write(piece.data(),
                                  std::min({fault.dripBytes, piece.size(), bytes - offset}));
            }
            return writeFiller(offset, bytes, sink);
        });
}

// Bends a success's body as the fault asks: replaced, cut, emptied, given
// only in part or encoded. True when it carries a coding of its own.
bool shapeBody(httplib::Response& response, Reply& reply, const Fault& fault)
{
    if (!fault.body.empty() && reply.status == 200) {
        reply.body = fault.body;
    }
    if (fault.cutAt > 0 && fault.cutAt < reply.body.size()) {
        reply.body.resize(fault.cutAt);
    }
    if (fault.emptyBody || reply.status == 204 || reply.status == 205) {
        reply.body.clear();
    }
    if (reply.status == 206) {
        const std::size_t whole = reply.body.size();
        reply.body.resize(whole / 2);
        response.set_header("Content-Range", "bytes 0-" + std::to_string(whole / 2 - 1) + "/" +
                                                 std::to_string(whole));
    }
    if (fault.gzipBody) {
        reply.body = storedGzip(reply.body);
        response.set_header("Content-Encoding", "gzip");
    } else if (!fault.contentEncoding.empty()) {
        response.set_header("Content-Encoding", fault.contentEncoding);
    }
    return fault.gzipBody || !fault.contentEncoding.empty();
}

} // namespace

Reply errorReply(int status)
{
    return {status, errorPage(status), "text/html"};
}

Reply contentFor(const RequestTarget& target)
{
    if (target.path == "/bof/bof.php") {
        const auto command = queryValue(target.query, "cmd");
        const auto cardId = queryValue(target.query, "cardids");
        if (command != "cardinfo" || !cardId) {
            return errorReply(400);
        }
        return {200,
                cardXml(*cardId, queryValue(target.query, "mlunkey").value_or(""),
                        queryValue(target.query, "mlunusername").value_or("")),
                "text/xml"};
    }
    static const std::regex illustration("/free/sets/([^/]+)/illustrations/([^/]+)_full\\.png");
    const std::string path = percentDecode(target.path);
    std::smatch match;
    if (std::regex_match(path, match, illustration) && match[1] == match[2]) {
        return {200, cardPng(match[1].str()), "image/png"};
    }
    return errorReply(404);
}

std::optional<Hop> parseHop(std::string_view originForm)
{
    if (!originForm.starts_with(kHopPrefix)) {
        return std::nullopt;
    }
    const std::string_view tail = originForm.substr(kHopPrefix.size());
    Hop hop;
    const auto [end, error] =
        std::from_chars(tail.data(), tail.data() + tail.size(), hop.remaining);
    if (error != std::errc() || end == tail.data() + tail.size() || *end != '/') {
        return std::nullopt;
    }
    hop.rest = tail.substr(static_cast<std::size_t>(end - tail.data()));
    return hop;
}

std::string hopTarget(int remaining, std::string_view originForm)
{
    return std::string(kHopPrefix) + std::to_string(remaining) + std::string(originForm);
}

void redirect(httplib::Response& response, const std::string& location)
{
    response.set_redirect(location, 302);
    // A body the client must not take for the content it asked for.
    response.set_content("<html><body>moved</body></html>\n", "text/html");
}

void sendReply(httplib::Response& response, Reply reply, const Fault& fault, const Pause& pause)
{
    response.status = reply.status;
    const bool encoded = shapeBody(response, reply, fault);
    if (fault.oversizedBody) {
        sendOversized(response, reply.contentType);
        return;
    }
    if (fault.bodyBytes > 0 && reply.status == 200) {
        sendPadding(response, fault.bodyBytes, std::move(reply.body), reply.contentType, fault,
                    pause);
        return;
    }
    // A body with a coding of its own goes out as given: the server would
    // otherwise compress a text body once more for a client that offers it.
    if (fault.stallAfterHeaders == 0ms && fault.dripBytes == 0 && !fault.dropMidBody &&
        !fault.chunkedBody && !encoded) {
        response.set_content(reply.body, reply.contentType);
        return;
    }

    auto body = std::make_shared<const std::string>(std::move(reply.body));
    if (fault.chunkedBody) {
        response.set_chunked_content_provider(
            reply.contentType, [body, fault, pause](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= body->size()) {
                    sink.done();
                    return true;
                }
                return writePiece(*body, offset, body->size(), fault, sink, pause);
            });
        return;
    }
    const std::size_t sent = fault.dropMidBody ? body->size() / 2 : body->size();
    response.set_content_provider(
        body->size(), reply.contentType,
        [body, fault, sent, pause](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            // Short of the announced length, this closes the connection.
            return offset < sent && writePiece(*body, offset, sent, fault, sink, pause);
        });
}

} // namespace kqget::testing
