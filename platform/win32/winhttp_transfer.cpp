#include "platform/win32/winhttp_transfer.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/winhttp_proxy.h"
#include "platform/win32/winhttp_request.h"
#include "update/build_config.h"
#include "update/run_error.h"
#include "update/run_options.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace kqget {

namespace {

// The run never has more fetches under way than this, so no worker generation
// has more workers.
constexpr std::size_t kMaxWorkers = kMaxJobs;

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
    WinHttpSessionSettings settings;
    std::optional<FetchFailure> settingsFailure; // e.g. a proxy WinHTTP cannot use
    // A worker of the current generation failed outside any fetch (no memory for its
    // session or for its result): its fetch can never be reported, so the
    // run's next wait fails instead.
    std::optional<ErrorNumber> workerFailure;

    std::mutex mutex;
    std::condition_variable jobReady;
    std::condition_variable fetchFinished;
    std::deque<Job> jobs;
    std::vector<FinishedFetch> finished;
    // Workers serve the generation they were started for; abandonAll() starts
    // a new one, and a worker of an older generation ends after its fetch, its
    // result dropped.
    std::uint64_t workerGeneration = 0;
    std::size_t generationSize = 0; // workers started for the current generation
    std::size_t idle = 0;
    bool closing = false;
};

namespace {

using Shared = WinHttpTransferState;

// Takes the generation's jobs one after another until the generation is
// replaced or the transfer goes.
void serveJobs(const std::shared_ptr<Shared>& shared, std::uint64_t generation)
{
    WinHttpSession session(shared->settings, shared->options);
    std::unique_lock lock(shared->mutex);
    for (;;) {
        // Counted idle by start() from its birth, and below after each fetch.
        shared->jobReady.wait(lock, [&] {
            return shared->closing || shared->workerGeneration != generation ||
                   !shared->jobs.empty();
        });
        if (shared->closing || shared->workerGeneration != generation) {
            return; // the idle count was reset with the generation
        }
        --shared->idle;
        const Shared::Job job = std::move(shared->jobs.front());
        shared->jobs.pop_front();
        lock.unlock();

        WinHttpOutcome outcome = FetchFailure{ErrorNumber::Unexpected, "no outcome"};
        try {
            outcome = session.fetch(job.url, *job.sink);
        } catch (const std::bad_alloc&) {
            outcome = FetchFailure{ErrorNumber::Transfer, "out of memory for the body"};
        } catch (const std::exception& error) {
            outcome = FetchFailure{ErrorNumber::Unexpected, error.what()};
        }

        lock.lock();
        if (shared->closing || shared->workerGeneration != generation) {
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
void serve(const std::shared_ptr<Shared> shared, std::uint64_t generation) noexcept
{
    try {
        serveJobs(shared, generation);
    } catch (...) {
        // Most likely out of memory, so what is kept allocates nothing.
        const ErrorNumber number = caughtFailure().number;
        const std::lock_guard lock(shared->mutex);
        if (!shared->closing && shared->workerGeneration == generation) {
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
    if (shared.idle >= shared.jobs.size() || shared.generationSize >= kMaxWorkers) {
        shared.jobReady.notify_one();
        return;
    }
    try {
        std::thread(serve, m_shared, shared.workerGeneration).detach();
        // Idle until it takes a job: a worker still starting up is one the
        // queue can wait for, so the generation never outgrows the fetches in flight.
        ++shared.generationSize;
        ++shared.idle;
    } catch (const std::system_error& error) {
        if (shared.generationSize == 0) {
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
    ++shared.workerGeneration;
    shared.generationSize = 0;
    shared.idle = 0;
    shared.jobs.clear();
    shared.finished.clear();
    shared.workerFailure.reset(); // it was the abandoned generation's
    shared.jobReady.notify_all();
}

} // namespace kqget
