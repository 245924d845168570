#pragma once

#include "tools/card-service/fault.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kqget::testing {

// One request as the service received it.
struct ReceivedRequest
{
    std::string target; // the request target as on the wire (absolute form via a proxy)
    std::string host;   // the Host header
    int remotePort = 0; // tells the client's connections apart
};

struct CardServiceOptions
{
    int port = 0;                         // 0: any free port
    std::chrono::milliseconds latency{0}; // added before every response
    // PEM files; when both are set the service speaks TLS only.
    std::string certificatePath;
    std::string privateKeyPath;
    // Told of every request as it comes, on the service's threads, one at a time.
    std::function<void(const ReceivedRequest&)> onRequest{};
};

// A stand-in for both hosts of the card service, on 127.0.0.1 only. It answers
//   GET /bof/bof.php?cmd=cardinfo&mlunkey=K&mlunusername=U&cardids=ID&xmlonly=1
//   GET /free/sets/ID/illustrations/ID_full.png
// in origin form and in the absolute form a proxy gets, on its own threads,
// from construction until destruction.
class CardService
{
public:
    explicit CardService(CardServiceOptions options = {});
    ~CardService();
    CardService(const CardService&) = delete;
    CardService& operator=(const CardService&) = delete;

    int port() const noexcept { return m_port; }
    // "http://127.0.0.1:<port>" (https:// over TLS), the base of either service path.
    std::string baseUrl() const;

    // Requests whose raw target contains `match` (all of them when it is empty)
    // get `fault`. The first rule added that matches applies.
    void addFault(std::string match, const Fault& fault);
    void clearFaults();
    void setLatency(std::chrono::milliseconds latency);
    // Every reply waits until `count` requests have been answered at the same
    // time (once), so that a client's concurrency shows however loaded the
    // machine is. 0 holds nothing.
    void holdUntilAtOnce(std::size_t count);
    // Lets every reply held by Fault::heldUntilReleased go, and any later one.
    void releaseHeld();

    std::vector<ReceivedRequest> requests() const;
    // Distinct client connections seen so far.
    std::size_t connectionCount() const;
    // The most requests answered at the same time so far (before the body).
    std::size_t mostAtOnce() const;

    static std::string expectedXml(std::string_view cardId, std::string_view key,
                                   std::string_view user);
    static std::string expectedPng(std::string_view cardId);
    static std::string expectedErrorPage(int status);

private:
    class Server;
    struct Rule
    {
        std::string match;
        Fault fault;
        std::map<std::string, int> hits{}; // per target, for Fault::times
    };
    // Counts a request as being answered for as long as it lives.
    class Answering
    {
    public:
        explicit Answering(CardService& service);
        ~Answering();
        Answering(const Answering&) = delete;
        Answering& operator=(const Answering&) = delete;

    private:
        CardService& m_service;
    };

    Fault faultFor(std::string_view target);
    void record(ReceivedRequest request);
    // Waits unless the service is stopping; false when it is.
    bool pause(std::chrono::milliseconds duration) const;
    // Waits for `ready` (checked under the lock); false when the service stops first.
    template <typename Ready> bool waitUntil(Ready ready) const;
    std::chrono::milliseconds latency() const;

    mutable std::mutex m_mutex;
    // Stopping, a request more being answered, or held replies let go.
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    std::chrono::milliseconds m_latency;
    std::size_t m_holdUntilAtOnce = 0;
    bool m_released = false;
    std::vector<Rule> m_rules;
    std::vector<ReceivedRequest> m_requests;
    std::function<void(const ReceivedRequest&)> m_onRequest;
    std::size_t m_answering = 0;
    std::size_t m_mostAtOnce = 0;

    std::unique_ptr<Server> m_server;
    int m_port = 0;
    bool m_tls = false;
    std::thread m_thread;
};

} // namespace kqget::testing
