#include "tools/card-service/card_service.h"

#include "tools/card-service/card_content.h"
#include "tools/card-service/request_target.h"
#include "update/transfer_port.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <atomic>
#include <charconv>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <sys/socket.h>

namespace kqget::testing {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kLoopback = "127.0.0.1";
// Matches every path, line breaks included ('.' would stop at a decoded %0A).
constexpr std::string_view kAnyPath = "[\\s\\S]*";
constexpr std::string_view kHopPrefix = "/hop/";
// Clients reuse connections; shutdown waits for an idle one to time out, so
// that time-out is short.
constexpr std::size_t kKeepAliveMaxCount = 1000;
constexpr time_t kKeepAliveSeconds = 1;
constexpr std::size_t kOversizedBytes = kBodySizeCapBytes + 1024 * 1024;
constexpr std::size_t kOversizedPieceBytes = 64 * 1024;
// Each open connection holds a thread for as long as it lives, a delayed reply
// included: room for a client's 16 jobs to both hosts, and for the
// connections a client cut short and has not yet seen closed.
constexpr std::size_t kThreads = 64;

struct Reply
{
    int status = 200;
    std::string body;
    std::string contentType;
};

// The library listens with a backlog of 5, so of 16 connections opened at
// once some wait for the client's second SYN, a second later. Listening again
// on the same socket widens its queue.
void widenBacklog(int port)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        int fd = -1;
        const std::string name = entry.path().filename().string();
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc()) {
            continue;
        }
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int listening = 0;
        socklen_t flagLength = sizeof listening;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &flagLength) == 0 &&
            listening != 0) {
            ::listen(fd, SOMAXCONN);
        }
    }
}

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

// A redirect chain is "/hop/<hops still to go><origin form>", so each hop
// needs no state in the service and the last one serves the real content.
struct Hop
{
    int remaining = 0;
    std::string_view rest;
};

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

} // namespace

class CardService::Server
{
public:
    Server(CardService& service, const CardServiceOptions& options)
        : m_service(service), m_http(makeServer(options))
    {
        m_http->Get(std::string(kAnyPath),
                    [this](const httplib::Request& request, httplib::Response& response) {
                        answer(request, response);
                    });
        m_http->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
        m_http->set_keep_alive_max_count(kKeepAliveMaxCount);
        m_http->set_keep_alive_timeout(kKeepAliveSeconds);
        // Headers and body go out in separate writes; with Nagle's algorithm
        // the body would wait for the client's delayed acknowledgement.
        m_http->set_tcp_nodelay(true);
    }

    httplib::Server& http() noexcept { return *m_http; }

private:
    static std::unique_ptr<httplib::Server> makeServer(const CardServiceOptions& options)
    {
        if (options.certificatePath.empty() && options.privateKeyPath.empty()) {
            return std::make_unique<httplib::Server>();
        }
        auto server = std::make_unique<httplib::SSLServer>(options.certificatePath.c_str(),
                                                           options.privateKeyPath.c_str());
        if (!server->is_valid()) {
            throw std::runtime_error("card service: cannot use the certificate '" +
                                     options.certificatePath + "' with the key '" +
                                     options.privateKeyPath + "'");
        }
        return server;
    }

    void answer(const httplib::Request& request, httplib::Response& response)
    {
        m_service.record({request.target, request.get_header_value("Host"), request.remote_port});
        const Answering answering(m_service);
        response.status = 503; // stands if the service stops while waiting
        if (!m_service.pause(m_service.latency())) {
            return;
        }
        const RequestTarget target = splitTarget(request.target);
        if (const auto hop = parseHop(target.originForm)) {
            if (hop->remaining > 0) {
                redirect(response, hopTarget(hop->remaining - 1, hop->rest));
            } else {
                send(response, contentFor(splitTarget(hop->rest)), Fault{});
            }
            return;
        }

        const Fault fault = m_service.faultFor(request.target);
        if (!m_service.pause(fault.delay)) {
            return;
        }
        if (fault.redirectLoop) {
            redirect(response, std::string(target.originForm));
        } else if (fault.redirectHops > 0) {
            redirect(response, hopTarget(fault.redirectHops - 1, target.originForm));
        } else if (fault.status != 200) {
            if (!fault.retryAfter.empty()) {
                response.set_header("Retry-After", fault.retryAfter);
            }
            send(response, errorReply(fault.status), fault);
        } else {
            send(response, contentFor(target), fault);
        }
    }

    void send(httplib::Response& response, Reply reply, const Fault& fault)
    {
        response.status = reply.status;
        if (fault.emptyBody) {
            reply.body.clear();
        }
        if (fault.oversizedBody) {
            sendOversized(response, reply.contentType);
            return;
        }
        if (fault.bodyBytes > 0 && reply.status == 200) {
            sendPadding(response, fault.bodyBytes, reply.contentType);
            return;
        }
        if (fault.stallAfterHeaders == 0ms && fault.dripBytes == 0 && !fault.dropMidBody &&
            !fault.chunkedBody) {
            response.set_content(reply.body, reply.contentType);
            return;
        }

        auto body = std::make_shared<const std::string>(std::move(reply.body));
        if (fault.chunkedBody) {
            response.set_chunked_content_provider(
                reply.contentType,
                [this, body, fault](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= body->size()) {
                        sink.done();
                        return true;
                    }
                    return writePiece(*body, offset, body->size(), fault, sink);
                });
            return;
        }
        const std::size_t sent = fault.dropMidBody ? body->size() / 2 : body->size();
        response.set_content_provider(
            body->size(), reply.contentType,
            [this, body, fault, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                // Short of the announced length, this closes the connection.
                return offset < sent && writePiece(*body, offset, sent, fault, sink);
            });
    }

    // Writes the body's next piece up to `end`, after the stall or the drip
    // pause that comes before it.
    bool writePiece(const std::string& body, std::size_t offset, std::size_t end,
                    const Fault& fault, httplib::DataSink& sink)
    {
        if (!m_service.pause(offset == 0 ? fault.stallAfterHeaders : fault.dripPause)) {
            return false;
        }
        std::size_t piece = end - offset;
        if (fault.dripBytes > 0 && fault.dripBytes < piece) {
            piece = fault.dripBytes;
        }
        return sink.write(body.data() + offset, piece);
    }

    // Chunked, so the client cannot refuse it by its announced length, and
    // produced piece by piece, so the service never holds it.
    static void sendOversized(httplib::Response& response, const std::string& contentType)
    {
        auto piece = std::make_shared<const std::string>(kOversizedPieceBytes, 'x');
        response.set_chunked_content_provider(
            contentType, [piece](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= kOversizedBytes) {
                    sink.done();
                    return true;
                }
                return sink.write(piece->data(), std::min(piece->size(), kOversizedBytes - offset));
            });
    }

    // A large body of known length, produced piece by piece.
    static void sendPadding(httplib::Response& response, std::size_t bytes,
                            const std::string& contentType)
    {
        auto piece = std::make_shared<const std::string>(kOversizedPieceBytes, 'x');
        response.set_content_provider(
            bytes, contentType,
            [piece, bytes](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                return sink.write(piece->data(), std::min(piece->size(), bytes - offset));
            });
    }

    CardService& m_service;
    std::unique_ptr<httplib::Server> m_http;
};

CardService::CardService(CardServiceOptions options)
    : m_latency(options.latency), m_server(std::make_unique<Server>(*this, options)),
      m_tls(!options.certificatePath.empty())
{
    httplib::Server& http = m_server->http();
    const std::string host(kLoopback);
    if (options.port == 0) {
        m_port = http.bind_to_any_port(host);
    } else if (http.bind_to_port(host, options.port)) {
        m_port = options.port;
    } else {
        m_port = -1;
    }
    if (m_port <= 0) {
        throw std::runtime_error("card service: cannot listen on " + host + ":" +
                                 std::to_string(options.port));
    }

    widenBacklog(m_port);
    auto listenEnded = std::make_shared<std::atomic<bool>>(false);
    m_thread = std::thread([&http, listenEnded] {
        http.listen_after_bind();
        *listenEnded = true;
    });
    // stop() does nothing until the server runs, and the destructor relies on it.
    while (!http.is_running() && !*listenEnded) {
        std::this_thread::sleep_for(1ms);
    }
}

CardService::~CardService()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    m_server->http().stop();
    m_thread.join();
}

std::string CardService::baseUrl() const
{
    return (m_tls ? "https://" : "http://") + std::string(kLoopback) + ":" + std::to_string(m_port);
}

void CardService::addFault(std::string match, const Fault& fault)
{
    const std::lock_guard lock(m_mutex);
    m_rules.push_back({std::move(match), fault});
}

void CardService::clearFaults()
{
    const std::lock_guard lock(m_mutex);
    m_rules.clear();
}

void CardService::setLatency(std::chrono::milliseconds latency)
{
    const std::lock_guard lock(m_mutex);
    m_latency = latency;
}

std::vector<ReceivedRequest> CardService::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t CardService::connectionCount() const
{
    const std::lock_guard lock(m_mutex);
    std::set<int> ports;
    for (const ReceivedRequest& request : m_requests) {
        ports.insert(request.remotePort);
    }
    return ports.size();
}

std::string CardService::expectedXml(std::string_view cardId, std::string_view key,
                                     std::string_view user)
{
    return cardXml(cardId, key, user);
}

std::string CardService::expectedPng(std::string_view cardId)
{
    return cardPng(cardId);
}

std::string CardService::expectedErrorPage(int status)
{
    return errorPage(status);
}

Fault CardService::faultFor(std::string_view target)
{
    const std::lock_guard lock(m_mutex);
    for (Rule& rule : m_rules) {
        if (target.find(rule.match) == std::string_view::npos) {
            continue;
        }
        if (rule.fault.times > 0 && ++rule.hits[std::string(target)] > rule.fault.times) {
            return {};
        }
        return rule.fault;
    }
    return {};
}

void CardService::record(ReceivedRequest request)
{
    const std::lock_guard lock(m_mutex);
    m_requests.push_back(std::move(request));
}

std::size_t CardService::mostAtOnce() const
{
    const std::lock_guard lock(m_mutex);
    return m_mostAtOnce;
}

CardService::Answering::Answering(CardService& service) : m_service(service)
{
    const std::lock_guard lock(service.m_mutex);
    service.m_mostAtOnce = std::max(service.m_mostAtOnce, ++service.m_answering);
}

CardService::Answering::~Answering()
{
    const std::lock_guard lock(m_service.m_mutex);
    --m_service.m_answering;
}

bool CardService::pause(std::chrono::milliseconds duration) const
{
    std::unique_lock lock(m_mutex);
    return !m_stopped.wait_for(lock, duration, [this] { return m_stopping; });
}

std::chrono::milliseconds CardService::latency() const
{
    const std::lock_guard lock(m_mutex);
    return m_latency;
}

} // namespace kqget::testing
