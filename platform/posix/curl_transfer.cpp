#include "platform/posix/curl_transfer.h"

#include "platform/retry_after.h"
#include "platform/wire_url.h"
#include "update/build_config.h"
#include "update/run_error.h"
#include "update/run_options.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <list>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace kqget {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kAllowedProtocols = "http,https";
// Idle connections kept for reuse: every job's, to either host. libcurl would
// size its cache from the handles added at the moment, and reconnect.
constexpr long kConnectionsKept = 2 * static_cast<long>(kMaxJobs);
// Stalls are checked at least this often while the caller waits.
constexpr milliseconds kStallCheckInterval{100};

// curl_global_init once for the process, undone at exit after every transfer
// object that a static might hold.
class CurlGlobal
{
public:
    CurlGlobal() : m_code(curl_global_init(CURL_GLOBAL_DEFAULT)) {}
    ~CurlGlobal()
    {
        if (m_code == CURLE_OK) {
            curl_global_cleanup();
        }
    }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;

    CURLcode code() const noexcept { return m_code; }

private:
    CURLcode m_code;
};

std::optional<FetchFailure> curlGlobalFailure()
{
    static const CurlGlobal global;
    if (global.code() != CURLE_OK) {
        return FetchFailure{ErrorNumber::Transfer, "cannot initialise libcurl: curl error " +
                                                       std::to_string(global.code()) + ": " +
                                                       curl_easy_strerror(global.code())};
    }
    return std::nullopt;
}

struct EasyCleanup
{
    void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct MultiCleanup
{
    void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
using UniqueEasy = std::unique_ptr<CURL, EasyCleanup>;
using UniqueMulti = std::unique_ptr<CURLM, MultiCleanup>;

template <typename Value> void setOption(CURL* easy, CURLoption option, Value value)
{
    const CURLcode code = curl_easy_setopt(easy, option, value);
    if (code != CURLE_OK) {
        throw RunError(ErrorNumber::Transfer,
                       "cannot set up libcurl: option " + std::to_string(option) + ": curl error " +
                           std::to_string(code) + ": " + curl_easy_strerror(code));
    }
}

ErrorNumber errorNumberOf(CURLcode code)
{
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return ErrorNumber::TransferTimeout;
    case CURLE_TOO_MANY_REDIRECTS:
        return ErrorNumber::TooManyRedirects;
    default:
        return ErrorNumber::Transfer;
    }
}

FetchFailure multiFailure(CURLMcode code)
{
    return {ErrorNumber::Transfer,
            "curl multi error " + std::to_string(code) + ": " + curl_multi_strerror(code)};
}

// Read by the project's own parser, as on every system: libcurl's date
// parser takes forms HTTP does not allow.
std::optional<std::chrono::seconds> retryAfterOf(CURL* easy)
{
    curl_header* header = nullptr;
    if (curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return std::nullopt;
    }
    return retryAfterWait(header->value, std::time(nullptr));
}

bool isHttps(std::string_view url)
{
    constexpr std::string_view kScheme = "https://";
    return url.size() >= kScheme.size() &&
           std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char a, char b) {
               return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
           });
}

// The reply's status and announced length, for the body's sink.
std::pair<long, std::optional<std::uint64_t>> replyHead(CURL* easy)
{
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return {status, length < 0 ? std::nullopt : std::optional(static_cast<std::uint64_t>(length))};
}

} // namespace

class CurlTransfer::Session
{
public:
    // A failure to set libcurl up is reported by every fetch.
    explicit Session(const TransferOptions& options) : m_options(options)
    {
        m_setupFailure = curlGlobalFailure();
        if (!m_setupFailure) {
            m_multi.reset(curl_multi_init());
            if (!m_multi) {
                m_setupFailure =
                    FetchFailure{ErrorNumber::Transfer, "cannot set up libcurl: no multi handle"};
            } else {
                curl_multi_setopt(m_multi.get(), CURLMOPT_MAXCONNECTS, kConnectionsKept);
            }
        }
    }

    ~Session() { abandonAll(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void start(FetchTicket ticket, std::string_view url, std::shared_ptr<BodySink> sink)
    {
        if (m_setupFailure) {
            m_finished.push_back({ticket, *m_setupFailure});
            return;
        }
        Fetch& fetch = m_underWay.emplace_back(ticket, std::move(sink));
        try {
            fetch.easy = takeEasy();
            fetch.prepare(m_options);
            const std::string wire = wireUrl(url);
            setOption(fetch.easy.get(), CURLOPT_URL, wire.c_str());
            // Over HTTP/2 the fetches share one connection rather than each
            // opening its own and paying its own TLS handshake. HTTP/2 comes
            // only over TLS; over plain HTTP, waiting would hold the first
            // fetches until the first reply shows the server's version.
            setOption(fetch.easy.get(), CURLOPT_PIPEWAIT, isHttps(wire) ? 1L : 0L);
            setOption(fetch.easy.get(), CURLOPT_PRIVATE, &fetch);
        } catch (const RunError& error) {
            m_underWay.pop_back();
            m_finished.push_back({ticket, FetchFailure{error.number(), error.what()}});
            return;
        }
        if (const CURLMcode code = curl_multi_add_handle(m_multi.get(), fetch.easy.get());
            code != CURLM_OK) {
            m_underWay.pop_back();
            m_finished.push_back({ticket, multiFailure(code)});
        }
    }

    std::vector<FinishedFetch> waitForFinished(milliseconds timeout)
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        if (m_setupFailure) {
            return std::exchange(m_finished, {});
        }
        for (;;) {
            int running = 0;
            if (const CURLMcode code = curl_multi_perform(m_multi.get(), &running);
                code != CURLM_OK) {
                failEverything(multiFailure(code));
            }
            collectFinished();
            checkStalls();
            const Clock::time_point now = Clock::now();
            if (!m_finished.empty() || now >= deadline) {
                return std::exchange(m_finished, {});
            }
            const auto wait = std::clamp(std::chrono::duration_cast<milliseconds>(deadline - now),
                                         milliseconds{1}, kStallCheckInterval);
            if (const CURLMcode code = curl_multi_poll(m_multi.get(), nullptr, 0,
                                                       static_cast<int>(wait.count()), nullptr);
                code != CURLM_OK) {
                failEverything(multiFailure(code));
            }
        }
    }

    // Taking a handle out halfway closes its connection rather than returning
    // it to the pool, so nothing of an abandoned reply is read by the next.
    void abandonAll() noexcept
    {
        for (Fetch& fetch : m_underWay) {
            curl_multi_remove_handle(m_multi.get(), fetch.easy.get());
        }
        m_underWay.clear();
        m_finished.clear();
    }

private:
    // One GET under way, with what has come of it so far.
    struct Fetch
    {
        Fetch(FetchTicket ticket, std::shared_ptr<BodySink> sink)
            : ticket(ticket), sink(std::move(sink))
        {}

        FetchTicket ticket;
        std::shared_ptr<BodySink> sink;
        UniqueEasy easy;
        std::array<char, CURL_ERROR_SIZE> errorBuffer{};
        std::uint64_t received = 0;
        bool begun = false; // the sink knows the reply
        bool overSizeCap = false;
        bool sinkRefused = false;
        bool requestSent = false; // from here on the stall clock runs
        Clock::time_point lastByte = Clock::now();

        void prepare(const TransferOptions& options)
        {
            CURL* handle = easy.get();
            setOption(handle, CURLOPT_ERRORBUFFER, errorBuffer.data());
            setOption(handle, CURLOPT_WRITEFUNCTION, &Fetch::onBody);
            setOption(handle, CURLOPT_WRITEDATA, this);
            setOption(handle, CURLOPT_HEADERFUNCTION, &Fetch::onHeader);
            setOption(handle, CURLOPT_HEADERDATA, this);
            setOption(handle, CURLOPT_PREREQFUNCTION, &Fetch::onRequest);
            setOption(handle, CURLOPT_PREREQDATA, this);
            bodyCap = options.bodySizeCap;
        }

        // Tells the sink of the reply whose body comes now (or, for an empty
        // one, that has ended); redirects pass no body through here.
        bool begin()
        {
            if (!begun) {
                begun = true;
                const auto [status, length] = replyHead(easy.get());
                sinkRefused = !sink->begin(status, length);
            }
            return !sinkRefused;
        }

        static size_t onBody(char* data, size_t size, size_t count, void* context) noexcept
        {
            auto& fetch = *static_cast<Fetch*>(context);
            const size_t length = size * count;
            fetch.lastByte = Clock::now();
            if (length > fetch.bodyCap - fetch.received) {
                // Stops the transfer; the bytes so far are no use to anybody.
                fetch.overSizeCap = true;
                return CURL_WRITEFUNC_ERROR;
            }
            fetch.received += length;
            if (!fetch.begin() || !fetch.sink->write(std::string_view(data, length))) {
                fetch.sinkRefused = true;
                return CURL_WRITEFUNC_ERROR;
            }
            return length;
        }

        static size_t onHeader(char*, size_t size, size_t count, void* context) noexcept
        {
            static_cast<Fetch*>(context)->lastByte = Clock::now();
            return size * count;
        }

        // Called once the connection stands, new or reused, so the connect
        // time-out alone covers connecting.
        static int onRequest(void* context, char*, char*, int, int) noexcept
        {
            auto& fetch = *static_cast<Fetch*>(context);
            fetch.requestSent = true;
            fetch.lastByte = Clock::now();
            return CURL_PREREQFUNC_OK;
        }

        std::size_t bodyCap = kBodySizeCapBytes;
    };

    // Easy handles are kept for the next fetch with their settings, so only
    // the first fetches of a run pay for setting them up.
    UniqueEasy takeEasy()
    {
        if (!m_spareEasy.empty()) {
            UniqueEasy easy = std::move(m_spareEasy.back());
            m_spareEasy.pop_back();
            return easy;
        }
        UniqueEasy easy(curl_easy_init());
        if (!easy) {
            throw RunError(ErrorNumber::Transfer, "cannot set up libcurl: no handle");
        }
        CURL* handle = easy.get();
        setOption(handle, CURLOPT_NOSIGNAL, 1L);
        setOption(handle, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
        setOption(handle, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
        setOption(handle, CURLOPT_FOLLOWLOCATION, 1L);
        // libcurl follows without limit unless told.
        setOption(handle, CURLOPT_MAXREDIRS, m_options.maxRedirects);
        setOption(handle, CURLOPT_CONNECTTIMEOUT_MS,
                  static_cast<long>(m_options.connectTimeout.count()));
        // Refuses an announced oversized body before it comes; a chunked one
        // is caught in onBody.
        setOption(handle, CURLOPT_MAXFILESIZE_LARGE,
                  static_cast<curl_off_t>(m_options.bodySizeCap));
        const std::string userAgent = "kqget/" + std::string(kDisplayVersion);
        setOption(handle, CURLOPT_USERAGENT, userAgent.c_str());
        if (!m_options.proxy.empty()) {
            setOption(handle, CURLOPT_PROXY, m_options.proxy.c_str());
        }
        // libcurl's defaults, stated because the key travels in the query: over
        // https:// it goes only to a host whose certificate the CA store vouches for.
        setOption(handle, CURLOPT_SSL_VERIFYPEER, 1L);
        setOption(handle, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!m_options.caBundlePath.empty()) {
            setOption(handle, CURLOPT_CAINFO, m_options.caBundlePath.c_str());
        }
        return easy;
    }

    void collectFinished()
    {
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            Fetch* fetch = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &fetch);
            const CURLcode result = message->data.result;
            finish(*fetch, result);
        }
    }

    void finish(Fetch& fetch, CURLcode result)
    {
        CURL* easy = fetch.easy.get();
        curl_multi_remove_handle(m_multi.get(), easy);
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);

        if (result == CURLE_OK && fetch.begin()) {
            m_finished.push_back({fetch.ticket, FetchResult{status, false, retryAfterOf(easy)}});
        } else if (fetch.overSizeCap || result == CURLE_FILESIZE_EXCEEDED) {
            m_finished.push_back({fetch.ticket, FetchResult{status, true}});
        } else {
            std::string reason;
            if (fetch.sinkRefused) {
                reason = "the body could not be kept";
            } else {
                reason = "curl error " + std::to_string(result) + ": " + curl_easy_strerror(result);
                const std::string_view detail(fetch.errorBuffer.data());
                if (!detail.empty()) {
                    reason.append(" (").append(detail).append(")");
                }
            }
            m_finished.push_back({fetch.ticket, FetchFailure{errorNumberOf(result), reason}});
        }
        recycle(fetch);
    }

    void recycle(Fetch& fetch)
    {
        m_spareEasy.push_back(std::move(fetch.easy));
        m_underWay.remove_if([&fetch](const Fetch& each) { return &each == &fetch; });
    }

    void checkStalls()
    {
        const Clock::time_point now = Clock::now();
        for (auto it = m_underWay.begin(); it != m_underWay.end();) {
            if (!it->requestSent || now - it->lastByte <= m_options.stallTimeout) {
                ++it;
                continue;
            }
            // Its connection is closed, not pooled: the reply may still come.
            curl_multi_remove_handle(m_multi.get(), it->easy.get());
            m_finished.push_back(
                {it->ticket, FetchFailure{ErrorNumber::TransferTimeout,
                                          "no data received for " +
                                              std::to_string(m_options.stallTimeout.count()) +
                                              " ms (stall time-out)"}});
            it = m_underWay.erase(it);
        }
    }

    void failEverything(const FetchFailure& failure)
    {
        for (Fetch& fetch : m_underWay) {
            curl_multi_remove_handle(m_multi.get(), fetch.easy.get());
            m_finished.push_back({fetch.ticket, failure});
        }
        m_underWay.clear();
    }

    const TransferOptions& m_options;
    std::optional<FetchFailure> m_setupFailure;
    UniqueMulti m_multi;
    // A list, so that the address each handle's callbacks hold stays put.
    std::list<Fetch> m_underWay;
    std::vector<UniqueEasy> m_spareEasy;
    std::vector<FinishedFetch> m_finished;
};

CurlTransfer::CurlTransfer(TransferOptions options) : m_options(std::move(options)) {}

CurlTransfer::~CurlTransfer() = default;

// Set up on the first fetch: a run over a library in order never pays for
// libcurl's handles, its connection cache or its TLS set-up.
CurlTransfer::Session& CurlTransfer::session()
{
    if (!m_session) {
        m_session = std::make_unique<Session>(m_options);
    }
    return *m_session;
}

void CurlTransfer::start(FetchTicket ticket, std::string_view url, std::shared_ptr<BodySink> body)
{
    session().start(ticket, url, std::move(body));
}

std::vector<FinishedFetch> CurlTransfer::waitForFinished(std::chrono::milliseconds timeout)
{
    return session().waitForFinished(timeout);
}

void CurlTransfer::abandonAll() noexcept
{
    if (m_session) {
        m_session->abandonAll();
    }
}

} // namespace kqget
