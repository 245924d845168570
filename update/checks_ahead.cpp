#include "update/checks_ahead.h"

#include <algorithm>
#include <chrono>

namespace kqget {

namespace {

constexpr unsigned kMostThreads = 4;
// A file system's clock may lag the process's by its tick, and some keep
// times to two seconds: a change this close to a look's start is taken for
// one made during it.
constexpr std::chrono::seconds kClockSlack{2};

std::int64_t nowOnFileClock()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

ChecksAhead::ChecksAhead(const ContentCheckPort& check) : m_check(check)
{
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
    for (unsigned i = 0; i < threads; ++i) {
        m_workers.emplace_back([this] { work(); });
    }
}

ChecksAhead::~ChecksAhead()
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

std::shared_ptr<ChecksAhead::Check> ChecksAhead::queue(std::string path, CardFileKind kind)
{
    if (m_blind) {
        return nullptr;
    }
    auto check =
        std::make_shared<Check>(Check{std::move(path), kind, 0, false, false, std::nullopt});
    {
        const std::lock_guard lock(m_mutex);
        m_queued.push_back(check);
    }
    m_changed.notify_one();
    return check;
}

void ChecksAhead::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_queued.empty(); });
        if (m_stopping) {
            return;
        }
        const std::shared_ptr<Check> check = m_queued.front().lock();
        m_queued.pop_front();
        if (!check) {
            continue; // its card was passed over
        }
        check->begun = nowOnFileClock();
        lock.unlock();
        std::optional<std::string> damage;
        bool failed = false;
        try {
            damage = m_check.fileDamage(check->path, check->kind);
        } catch (...) {
            failed = true;
        }
        lock.lock();
        check->reached = true;
        check->failed = failed;
        check->damage = std::move(damage);
        m_changed.notify_all();
    }
}

std::optional<std::string> ChecksAhead::damage(const std::shared_ptr<Check>& ahead,
                                               const std::string& path, CardFileKind kind,
                                               FileStamp now)
{
    // A change of content, a file moved in or made anew all set the change
    // time, which no program can set back. Without it no verdict ever holds.
    m_blind = m_blind || now.changed == 0;
    if (ahead && ahead->path == path && !m_blind) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return ahead->reached; });
        const auto slack = std::chrono::nanoseconds(kClockSlack).count();
        if (!ahead->failed && now.changed < ahead->begun - slack) {
            return std::move(ahead->damage);
        }
    }
    return m_check.fileDamage(path, kind);
}

} // namespace kqget
