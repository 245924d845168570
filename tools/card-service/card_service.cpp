#include "tools/card-service/card_service.h"

#include "tools/card-service/card_content.h"
#include "tools/card-service/request_target.h"
#include "tools/card-service/service_reply.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <atomic>
#include <charconv>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <stdexcept>
#include <sys/socket.h>

namespace kqget::testing {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kLoopback = "127.0.0.1";
// Matches every path, line breaks included ('.' would stop at a decoded %0A).
constexpr std::string_view kAnyPath = "[\\s\\S]*";
// Clients reuse connections; shutdown waits for an idle one to time out, so
// that time-out is short.
constexpr std::size_t kKeepAliveMaxCount = 1000;
constexpr time_t kKeepAliveSeconds = 1;
// Each open connection holds a thread for as long as it lives, a delayed reply
// included: room for a client's 16 jobs to both hosts, and for the
// connections a client cut short and has not yet seen closed.
constexpr std::size_t kThreads = 64;

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

} // namespace

template <typename Ready> bool CardService::waitUntil(Ready ready) const
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopping || ready(); });
    return !m_stopping;
}

class CardService::Server
{
public:
    Server(CardService& service, const CardServiceOptions& options)
        : m_service(service), m_http(makeServer(options)),
          m_pause(
              [&service](std::chrono::milliseconds duration) { return service.pause(duration); })
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
        // No TLS 1.3 session tickets: OpenSSL sends them right after the
        // handshake, unasked, and Wine's secure channel now and then fails
        // the request they arrive in (error 12157). kqget resumes no session.
        SSL_CTX_set_num_tickets(server->ssl_context(), 0);
        return server;
    }

    void answer(const httplib::Request& request, httplib::Response& response)
    {
        m_service.record({request.target, request.get_header_value("Host"), request.remote_port});
        const Answering answering(m_service);
        response.status = 503; // stands if the service stops while waiting
        if (!m_service.waitUntil(
                [this] { return m_service.m_mostAtOnce >= m_service.m_holdUntilAtOnce; }) ||
            !m_service.pause(m_service.latency())) {
            return;
        }
        const RequestTarget target = splitTarget(request.target);
        if (const auto hop = parseHop(target.originForm)) {
            if (hop->remaining > 0) {
                redirect(response, hopTarget(hop->remaining - 1, hop->rest));
            } else {
                sendReply(response, contentFor(splitTarget(hop->rest)), Fault{}, m_pause);
            }
            return;
        }

        const Fault fault = m_service.faultFor(request.target);
        if (!fault.proxyUser.empty() && request.get_header_value("Proxy-Authorization") !=
                                            httplib::make_basic_authentication_header(
                                                fault.proxyUser, fault.proxyPassword, true)
                                                .second) {
            response.set_header("Proxy-Authenticate", "Basic realm=\"card service\"");
            sendReply(response, errorReply(407), Fault{}, m_pause);
            return;
        }
        if (!m_service.pause(fault.delay) ||
            (fault.heldUntilReleased &&
             !m_service.waitUntil([this] { return m_service.m_released; }))) {
            return;
        }
        if (fault.redirectLoop) {
            redirect(response, std::string(target.originForm));
        } else if (!fault.redirectTo.empty()) {
            redirect(response, fault.redirectTo + std::string(target.originForm));
        } else if (fault.redirectHops > 0) {
            redirect(response, hopTarget(fault.redirectHops - 1, target.originForm));
        } else if (fault.status < 200 || fault.status > 299) {
            if (!fault.retryAfter.empty()) {
                response.set_header("Retry-After", fault.retryAfter);
            }
            sendReply(response, errorReply(fault.status), fault, m_pause);
        } else {
            Reply reply = contentFor(target);
            if (reply.status == 200) {
                reply.status = fault.status;
            }
            sendReply(response, std::move(reply), fault, m_pause);
        }
    }

    CardService& m_service;
    std::unique_ptr<httplib::Server> m_http;
    const Pause m_pause;
};

CardService::CardService(CardServiceOptions options)
    : m_latency(options.latency), m_onRequest(options.onRequest),
      m_server(std::make_unique<Server>(*this, options)), m_tls(!options.certificatePath.empty())
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
    m_changed.notify_all();
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

void CardService::holdUntilAtOnce(std::size_t count)
{
    {
        const std::lock_guard lock(m_mutex);
        m_holdUntilAtOnce = count;
    }
    m_changed.notify_all();
}

void CardService::releaseHeld()
{
    {
        const std::lock_guard lock(m_mutex);
        m_released = true;
    }
    m_changed.notify_all();
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
    if (m_onRequest) {
        m_onRequest(request);
    }
    m_requests.push_back(std::move(request));
}

std::size_t CardService::mostAtOnce() const
{
    const std::lock_guard lock(m_mutex);
    return m_mostAtOnce;
}

CardService::Answering::Answering(CardService& service) : m_service(service)
{
    {
        const std::lock_guard lock(service.m_mutex);
        service.m_mostAtOnce = std::max(service.m_mostAtOnce, ++service.m_answering);
    }
    service.m_changed.notify_all();
}

CardService::Answering::~Answering()
{
    const std::lock_guard lock(m_service.m_mutex);
    --m_service.m_answering;
}

bool CardService::pause(std::chrono::milliseconds duration) const
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, duration, [this] { return m_stopping; });
}

std::chrono::milliseconds CardService::latency() const
{
    const std::lock_guard lock(m_mutex);
    return m_latency;
}

} // namespace kqget::testing
