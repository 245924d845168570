#include "update/verify_ahead.h"

#include <algorithm>

namespace kqget {

namespace {

// Files checked or queued ahead of the turn: enough to keep every thread busy
// through a few large files, few enough that a change made meanwhile is rare.
constexpr std::size_t kFilesAhead = 64;
constexpr unsigned kMostThreads = 4;

} // namespace

VerifyAhead::VerifyAhead(const ContentCheckPort& check, const CardWalk& turn)
    : m_check(check), m_ahead(turn)
{
    m_ahead->setSizesFiles(true);
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
    for (unsigned i = 0; i < threads; ++i) {
        m_workers.emplace_back([this] { work(); });
    }
}

VerifyAhead::~VerifyAhead()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers) {
        worker.join();
    }
}

void VerifyAhead::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping) {
            return;
        }
        const Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        std::optional<std::string> damage;
        try {
            damage = m_check.fileDamage(job.path, job.kind);
        } catch (...) {
            // Left for the turn, which checks the file itself and meets the failure.
            lock.lock();
            m_verdicts.erase(job.path);
            m_changed.notify_all();
            continue;
        }
        lock.lock();
        if (const auto found = m_verdicts.find(job.path); found != m_verdicts.end()) {
            found->second.reached = true;
            found->second.damage = std::move(damage);
        }
        m_changed.notify_all();
    }
}

// On the run's thread: the walk ahead reads the same folders as the run.
void VerifyAhead::walkAhead()
{
    std::vector<std::pair<Job, std::uint64_t>> found;
    while (m_ahead) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_verdicts.size() + found.size() >= kFilesAhead) {
                break;
            }
        }
        std::optional<WalkItem> item = m_ahead->next();
        const auto* card = item ? std::get_if<CardPlan>(&*item) : nullptr;
        if (card == nullptr) {
            m_ahead.reset(); // the end, or a failure the run meets at its own turn
            break;
        }
        if (!card->xml.fetch) {
            found.push_back({{card->xml.path, CardFileKind::Xml}, card->xml.size});
        }
        if (!card->illustration.fetch) {
            found.push_back(
                {{card->illustration.path, CardFileKind::Illustration}, card->illustration.size});
        }
    }
    if (found.empty()) {
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        for (auto& [job, size] : found) {
            if (m_verdicts.try_emplace(job.path, Verdict{size, false, std::nullopt}).second) {
                m_jobs.push_back(std::move(job));
            }
        }
    }
    m_changed.notify_all();
}

std::optional<std::string> VerifyAhead::damage(const std::string& path, CardFileKind kind,
                                               std::uint64_t size)
{
    walkAhead();
    {
        std::unique_lock lock(m_mutex);
        auto found = m_verdicts.find(path);
        if (found != m_verdicts.end()) {
            m_changed.wait(lock, [&] {
                found = m_verdicts.find(path);
                return found == m_verdicts.end() || found->second.reached;
            });
        }
        if (found != m_verdicts.end()) {
            Verdict verdict = std::move(found->second);
            m_verdicts.erase(found);
            if (verdict.size == size) {
                return verdict.damage;
            }
        }
    }
    return m_check.fileDamage(path, kind);
}

} // namespace kqget
