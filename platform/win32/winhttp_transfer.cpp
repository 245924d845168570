#include "platform/win32/winhttp_transfer.h"

#include "platform/retry_after.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_error_text.h"
#include "platform/win32/winhttp_proxy.h"
#include "platform/wire_url.h"
#include "update/build_config.h"
#include "update/run_error.h"
#include "update/run_options.h"

#include <array>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <windows.h>
#include <winhttp.h>

namespace kqget {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
// The run never has more fetches under way than this, so neither has a crew.
constexpr std::size_t kMaxWorkers = kMaxJobs;

using UniqueInternet = UniqueHandle<HINTERNET, ::WinHttpCloseHandle>;

using Outcome = std::variant<FetchResult, FetchFailure>;

ErrorNumber errorNumberOf(unsigned long error)
{
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        return ErrorNumber::TransferTimeout;
    case ERROR_WINHTTP_REDIRECT_FAILED: // also a scheme change WinHTTP refuses to follow
        return ErrorNumber::TooManyRedirects;
    default:
        return ErrorNumber::Transfer;
    }
}

FetchFailure failureOf(std::string_view call, unsigned long error)
{
    return {errorNumberOf(error), std::string(call) + ": " + windowsErrorText(error)};
}

DWORD milliseconds(std::chrono::milliseconds span)
{
    return static_cast<DWORD>(span.count());
}

// The value of one response header, when it is there.
std::optional<std::wstring> headerText(HINTERNET request, const wchar_t* name)
{
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, text.data(), &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

const wchar_t* textOrNull(const std::wstring& text)
{
    return text.empty() ? nullptr : text.c_str();
}

// What every worker's session is opened with.
struct SessionSettings
{
    std::optional<WinHttpProxyChoice> proxy; // none when the named proxy is unusable
    std::wstring userAgent;
};

// One worker's WinHTTP session; its connections are reused by its next fetches.
class Session
{
public:
    Session(const SessionSettings& settings, const TransferOptions& options)
        : m_options(options), m_proxy(*settings.proxy)
    {
        const WinHttpProxyPlan& plan = m_proxy.plan();
        m_session.reset(::WinHttpOpen(settings.userAgent.c_str(), plan.access,
                                      textOrNull(plan.proxy), textOrNull(plan.bypass), 0));
        if (!m_session) {
            m_setupFailure = failureOf("WinHttpOpen", ::GetLastError());
            return;
        }
        // Finding the host counts as connecting. No byte for the stall
        // time-out fails the fetch, whether it waits for the reply's headers
        // or for more of its body.
        const DWORD connect = milliseconds(options.connectTimeout);
        const DWORD stall = milliseconds(options.stallTimeout);
        if (!::WinHttpSetTimeouts(m_session.get(), connect, connect, stall, stall)) {
            m_setupFailure = failureOf("WinHttpSetTimeouts", ::GetLastError());
        }
    }

    Outcome fetch(const std::string& url, BodySink& sink)
    {
        if (m_setupFailure) {
            return *m_setupFailure;
        }
        const std::wstring wire = toWide(wireUrl(url));
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = static_cast<DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!::WinHttpCrackUrl(wire.c_str(), static_cast<DWORD>(wire.size()), 0, &parts)) {
            return failureOf("WinHttpCrackUrl", ::GetLastError());
        }
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
        object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        if (object.empty()) {
            object = L"/";
        }

        const UniqueInternet connection(
            ::WinHttpConnect(m_session.get(), host.c_str(), parts.nPort, 0));
        if (!connection) {
            return failureOf("WinHttpConnect", ::GetLastError());
        }
        // The target is already in its wire form: WinHTTP must not encode it again.
        DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
        if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
            flags |= WINHTTP_FLAG_SECURE;
        }
        const UniqueInternet request(::WinHttpOpenRequest(connection.get(), L"GET", object.c_str(),
                                                          nullptr, WINHTTP_NO_REFERER,
                                                          WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
        if (!request) {
            return failureOf("WinHttpOpenRequest", ::GetLastError());
        }
        DWORD receiveResponse = milliseconds(m_options.stallTimeout);
        DWORD redirects = static_cast<DWORD>(m_options.maxRedirects);
        if (!::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                                &receiveResponse, sizeof receiveResponse) ||
            !::WinHttpSetOption(request.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS,
                                &redirects, sizeof redirects)) {
            return failureOf("WinHttpSetOption", ::GetLastError());
        }
        if (!m_proxy.applyTo(m_session.get(), request.get(), wire)) {
            return failureOf("WinHttpSetOption", ::GetLastError());
        }
        if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
            return failureOf("WinHttpSendRequest", ::GetLastError());
        }
        if (!::WinHttpReceiveResponse(request.get(), nullptr)) {
            return failureOf("WinHttpReceiveResponse", ::GetLastError());
        }
        return readReply(request.get(), sink);
    }

private:
    Outcome readReply(HINTERNET request, BodySink& sink)
    {
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                   WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                   WINHTTP_NO_HEADER_INDEX)) {
            return failureOf("WinHttpQueryHeaders", ::GetLastError());
        }
        FetchResult result;
        result.httpStatus = static_cast<long>(status);
        if (const auto retryAfter = headerText(request, L"Retry-After")) {
            result.retryAfter = retryAfterWait(toUtf8(*retryAfter), std::time(nullptr));
        }
        // An announced oversized body is refused before it comes; an
        // unannounced one is caught while it is read.
        std::optional<std::uint64_t> announced;
        if (const auto length = headerText(request, L"Content-Length")) {
            const std::string digits = toUtf8(*length);
            unsigned long long value = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value);
            if (error == std::errc()) {
                announced = value;
            }
        }
        if (announced && *announced > m_options.bodySizeCap) {
            result.overSizeCap = true;
            return result;
        }
        if (!sink.begin(result.httpStatus, announced)) {
            return FetchFailure{ErrorNumber::Transfer, "the body could not be kept"};
        }
        std::array<char, kReadChunk> buffer{};
        std::uint64_t received = 0;
        for (;;) {
            DWORD available = 0;
            if (!::WinHttpQueryDataAvailable(request, &available)) {
                return failureOf("WinHttpQueryDataAvailable", ::GetLastError());
            }
            if (available == 0) {
                return result;
            }
            DWORD got = 0;
            const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
            if (!::WinHttpReadData(request, buffer.data(), wanted, &got)) {
                return failureOf("WinHttpReadData", ::GetLastError());
            }
            if (got > m_options.bodySizeCap - received) {
                result.overSizeCap = true; // what the sink got is no use to anybody
                return result;
            }
            received += got;
            if (!sink.write(std::string_view(buffer.data(), got))) {
                return FetchFailure{ErrorNumber::Transfer, "the body could not be kept"};
            }
        }
    }

    const TransferOptions& m_options;
    const WinHttpProxyChoice& m_proxy;
    UniqueInternet m_session;
    std::optional<FetchFailure> m_setupFailure;
};

} // namespace

struct WinHttpTransferState
{
    struct Job
    {
        FetchTicket ticket;
        std::string url;
        std::shared_ptr<BodySink> sink; // kept alive by the worker while it writes
    };

    explicit WinHttpTransferState(TransferOptions transferOptions)
        : options(std::move(transferOptions))
    {}

    const TransferOptions options;
    SessionSettings settings;
    std::optional<FetchFailure> settingsFailure; // e.g. a proxy WinHTTP cannot use
    // A worker of the current crew failed outside any fetch (no memory for its
    // session or for its result): its fetch can never be reported, so the
    // run's next wait fails instead.
    std::optional<ErrorNumber> workerFailure;

    std::mutex mutex;
    std::condition_variable jobReady;
    std::condition_variable fetchFinished;
    std::deque<Job> jobs;
    std::vector<FinishedFetch> finished;
    // Workers serve the crew they were started for; abandonAll() starts a new
    // one, and a worker of an older crew ends after its fetch, its result dropped.
    std::uint64_t crew = 0;
    std::size_t crewSize = 0;
    std::size_t idle = 0;
    bool closing = false;
};

namespace {

using Shared = WinHttpTransferState;

// Takes the crew's jobs one after another until the crew is replaced or the
// transfer goes.
void serveJobs(const std::shared_ptr<Shared>& shared, std::uint64_t crew)
{
    Session session(shared->settings, shared->options);
    std::unique_lock lock(shared->mutex);
    for (;;) {
        // Counted idle by start() from its birth, and below after each fetch.
        shared->jobReady.wait(
            lock, [&] { return shared->closing || shared->crew != crew || !shared->jobs.empty(); });
        if (shared->closing || shared->crew != crew) {
            return; // the idle count was reset with the crew
        }
        --shared->idle;
        const Shared::Job job = std::move(shared->jobs.front());
        shared->jobs.pop_front();
        lock.unlock();

        Outcome outcome = FetchFailure{ErrorNumber::Unexpected, "no outcome"};
        try {
            outcome = session.fetch(job.url, *job.sink);
        } catch (const std::bad_alloc&) {
            outcome = FetchFailure{ErrorNumber::Transfer, "out of memory for the body"};
        } catch (const std::exception& error) {
            outcome = FetchFailure{ErrorNumber::Unexpected, error.what()};
        }

        lock.lock();
        if (shared->closing || shared->crew != crew) {
            return;
        }
        shared->finished.push_back({job.ticket, std::move(outcome)});
        shared->fetchFinished.notify_all();
        ++shared->idle;
    }
}

// Holds the shared state itself, so the transfer object may be gone long
// before an abandoned worker's fetch returns. Nothing may escape a thread's
// function: it would end the program.
void serve(const std::shared_ptr<Shared> shared, std::uint64_t crew) noexcept
{
    try {
        serveJobs(shared, crew);
    } catch (...) {
        // Most likely out of memory, so what is kept allocates nothing.
        const ErrorNumber number = caughtFailure().number;
        const std::lock_guard lock(shared->mutex);
        if (!shared->closing && shared->crew == crew) {
            shared->workerFailure = number;
            shared->fetchFinished.notify_all();
        }
    }
}

} // namespace

WinHttpTransfer::WinHttpTransfer(TransferOptions options)
    : m_shared(std::make_shared<Shared>(std::move(options)))
{
    Shared& shared = *m_shared;
    shared.settings.userAgent = toWide("kqget/" + std::string(kDisplayVersion));
    try {
        shared.settings.proxy.emplace(shared.options.proxy.empty()
                                          ? systemProxyPlan()
                                          : namedProxyPlan(shared.options.proxy));
    } catch (const RunError& error) {
        shared.settingsFailure = FetchFailure{error.number(), error.what()};
    }
}

WinHttpTransfer::~WinHttpTransfer()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->closing = true;
    m_shared->jobs.clear();
    m_shared->jobReady.notify_all();
}

void WinHttpTransfer::start(FetchTicket ticket, std::string_view url,
                            std::shared_ptr<BodySink> body)
{
    Shared& shared = *m_shared;
    const std::lock_guard lock(shared.mutex);
    if (shared.settingsFailure) {
        shared.finished.push_back({ticket, *shared.settingsFailure});
        shared.fetchFinished.notify_all();
        return;
    }
    shared.jobs.push_back({ticket, std::string(url), std::move(body)});
    if (shared.idle >= shared.jobs.size() || shared.crewSize >= kMaxWorkers) {
        shared.jobReady.notify_one();
        return;
    }
    try {
        std::thread(serve, m_shared, shared.crew).detach();
        // Idle until it takes a job: a worker still starting up is one the
        // queue can wait for, so the crew never outgrows the fetches in flight.
        ++shared.crewSize;
        ++shared.idle;
    } catch (const std::system_error& error) {
        if (shared.crewSize == 0) {
            shared.jobs.pop_back();
            shared.finished.push_back(
                {ticket,
                 FetchFailure{ErrorNumber::Transfer,
                              std::string("cannot start a fetch thread: ") + error.what()}});
            shared.fetchFinished.notify_all();
        } // else the workers there are take it in turn
    }
}

std::vector<FinishedFetch> WinHttpTransfer::waitForFinished(std::chrono::milliseconds timeout)
{
    Shared& shared = *m_shared;
    std::unique_lock lock(shared.mutex);
    shared.fetchFinished.wait_for(lock, timeout,
                                  [&] { return !shared.finished.empty() || shared.workerFailure; });
    if (shared.workerFailure) {
        throw RunError(*shared.workerFailure,
                       *shared.workerFailure == ErrorNumber::OutOfMemory
                           ? "out of memory: the system refused an allocation for a fetch"
                           : "a fetch's worker thread failed");
    }
    return std::exchange(shared.finished, {});
}

void WinHttpTransfer::abandonAll() noexcept
{
    Shared& shared = *m_shared;
    const std::lock_guard lock(shared.mutex);
    ++shared.crew;
    shared.crewSize = 0;
    shared.idle = 0;
    shared.jobs.clear();
    shared.finished.clear();
    shared.workerFailure.reset(); // it was the abandoned crew's
    shared.jobReady.notify_all();
}

} // namespace kqget
