#include "platform/curl_transfer.h"

#include "platform/wire_url.h"
#include "update/build_config.h"
#include "update/run_error.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <new>
#include <string>
#include <utility>

namespace kqget {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kIdleInterval{50};
constexpr const char* kAllowedProtocols = "http,https";

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

void ensureCurlGlobal()
{
    static const CurlGlobal global;
    if (global.code() != CURLE_OK) {
        throw RunError(ErrorNumber::Transfer, "cannot initialise libcurl: curl error " +
                                                  std::to_string(global.code()) + ": " +
                                                  curl_easy_strerror(global.code()));
    }
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

// Keeps the easy handle in the multi handle for one transfer. Taking it out,
// even halfway, leaves it ready for the next one; a connection cut short is
// closed rather than returned to the pool.
class Attachment
{
public:
    Attachment(CURLM* multi, CURL* easy) : m_multi(multi), m_easy(easy)
    {
        m_code = curl_multi_add_handle(multi, easy);
    }
    ~Attachment()
    {
        if (m_code == CURLM_OK) {
            curl_multi_remove_handle(m_multi, m_easy);
        }
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

    CURLMcode code() const noexcept { return m_code; }

private:
    CURLM* m_multi;
    CURL* m_easy;
    CURLMcode m_code;
};

std::string failurePrefix(std::string_view url)
{
    return "cannot fetch " + std::string(url) + ": ";
}

[[noreturn]] void failMulti(std::string_view url, CURLMcode code)
{
    throw RunError(ErrorNumber::Transfer, failurePrefix(url) + "curl multi error " +
                                              std::to_string(code) + ": " +
                                              curl_multi_strerror(code));
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

} // namespace

struct CurlTransfer::Session
{
    UniqueMulti multi;
    UniqueEasy easy;
    std::array<char, CURL_ERROR_SIZE> errorBuffer{};
    std::size_t bodySizeCap = 0;

    // State of the transfer under way.
    std::string body;
    bool overSizeCap = false;
    bool outOfMemory = false;
    bool requestSent = false; // from here on the stall clock runs
    Clock::time_point lastByte;

    void startTransfer()
    {
        body.clear();
        overSizeCap = false;
        outOfMemory = false;
        requestSent = false;
        errorBuffer[0] = '\0';
    }

    static size_t onBody(char* data, size_t size, size_t count, void* context) noexcept
    {
        auto& session = *static_cast<Session*>(context);
        const size_t length = size * count;
        session.lastByte = Clock::now();
        if (length > session.bodySizeCap - session.body.size()) {
            // Stops the transfer; the bytes so far are no use to anybody.
            session.overSizeCap = true;
            std::string().swap(session.body);
            return CURL_WRITEFUNC_ERROR;
        }
        try {
            session.body.append(data, length);
        } catch (const std::bad_alloc&) {
            session.outOfMemory = true;
            return CURL_WRITEFUNC_ERROR;
        }
        return length;
    }

    static size_t onHeader(char*, size_t size, size_t count, void* context) noexcept
    {
        static_cast<Session*>(context)->lastByte = Clock::now();
        return size * count;
    }

    // Called once the connection stands, new or reused, so the connect
    // time-out alone covers connecting.
    static int onRequest(void* context, char*, char*, int, int) noexcept
    {
        auto& session = *static_cast<Session*>(context);
        session.requestSent = true;
        session.lastByte = Clock::now();
        return CURL_PREREQFUNC_OK;
    }
};

CurlTransfer::CurlTransfer(TransferOptions options, std::function<void()> onIdle)
    : m_options(options), m_onIdle(std::move(onIdle))
{}

// Set up on the first fetch: a run over a library in order never pays for
// libcurl's handles, its connection cache or its TLS set-up.
CurlTransfer::Session& CurlTransfer::session()
{
    if (m_session) {
        return *m_session;
    }
    ensureCurlGlobal();
    auto created = std::make_unique<Session>();
    Session& session = *created;
    session.bodySizeCap = m_options.bodySizeCap;
    session.multi.reset(curl_multi_init());
    session.easy.reset(curl_easy_init());
    if (!session.multi || !session.easy) {
        throw RunError(ErrorNumber::Transfer, "cannot set up libcurl: no handle");
    }

    CURL* easy = session.easy.get();
    setOption(easy, CURLOPT_NOSIGNAL, 1L);
    setOption(easy, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    setOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    setOption(easy, CURLOPT_FOLLOWLOCATION, 1L);
    // libcurl follows without limit unless told.
    setOption(easy, CURLOPT_MAXREDIRS, m_options.maxRedirects);
    setOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_options.connectTimeout.count()));
    // Refuses an announced oversized body before it comes; a chunked one is
    // caught in onBody.
    setOption(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(m_options.bodySizeCap));
    // libcurl's defaults, stated because the key travels in the query: over
    // https:// it goes only to a host whose certificate the CA store vouches for.
    setOption(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_options.caBundlePath.empty()) {
        setOption(easy, CURLOPT_CAINFO, m_options.caBundlePath.c_str());
    }
    const std::string userAgent = "kqget/" + std::string(kDisplayVersion);
    setOption(easy, CURLOPT_USERAGENT, userAgent.c_str());
    setOption(easy, CURLOPT_ERRORBUFFER, session.errorBuffer.data());
    setOption(easy, CURLOPT_WRITEFUNCTION, &Session::onBody);
    setOption(easy, CURLOPT_WRITEDATA, &session);
    setOption(easy, CURLOPT_HEADERFUNCTION, &Session::onHeader);
    setOption(easy, CURLOPT_HEADERDATA, &session);
    setOption(easy, CURLOPT_PREREQFUNCTION, &Session::onRequest);
    setOption(easy, CURLOPT_PREREQDATA, &session);
    m_session = std::move(created);
    return *m_session;
}

CurlTransfer::~CurlTransfer() = default;

FetchResult CurlTransfer::get(std::string_view url)
{
    Session& session = this->session();
    CURL* easy = session.easy.get();
    CURLM* multi = session.multi.get();
    session.startTransfer();
    const std::string wire = wireUrl(url);
    setOption(easy, CURLOPT_URL, wire.c_str());

    const Attachment attachment(multi, easy);
    if (attachment.code() != CURLM_OK) {
        failMulti(url, attachment.code());
    }
    Clock::time_point nextIdle = Clock::now() + kIdleInterval;
    for (;;) {
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(multi, &running); code != CURLM_OK) {
            failMulti(url, code);
        }
        if (running == 0) {
            break;
        }
        const Clock::time_point now = Clock::now();
        if (session.requestSent && now - session.lastByte > m_options.stallTimeout) {
            throw RunError(ErrorNumber::TransferTimeout,
                           failurePrefix(url) + "no data received for " +
                               std::to_string(m_options.stallTimeout.count()) +
                               " ms (stall time-out)");
        }
        if (now >= nextIdle) {
            nextIdle = now + kIdleInterval;
            if (m_onIdle) {
                m_onIdle();
            }
        }
        // Wake up no later than the next idle beat, so that socket activity just
        // before a beat cannot push the one after it a whole interval back.
        const auto untilIdle = std::chrono::duration_cast<milliseconds>(nextIdle - Clock::now());
        const int waitMs =
            static_cast<int>(std::clamp(untilIdle, milliseconds{1}, kIdleInterval).count());
        if (const CURLMcode code = curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
            code != CURLM_OK) {
            failMulti(url, code);
        }
    }

    CURLcode result = CURLE_OK;
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            result = message->data.result;
        }
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);

    if (result == CURLE_OK) {
        return {status, std::exchange(session.body, {}), false};
    }
    if (session.overSizeCap || result == CURLE_FILESIZE_EXCEEDED) {
        return {status, {}, true};
    }
    std::string description = failurePrefix(url);
    if (session.outOfMemory) {
        description += "out of memory for the body";
    } else {
        description += "curl error " + std::to_string(result) + ": " + curl_easy_strerror(result);
        const std::string_view detail(session.errorBuffer.data());
        if (!detail.empty()) {
            description.append(" (").append(detail).append(")");
        }
    }
    throw RunError(errorNumberOf(result), description);
}

} // namespace kqget
