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

} // namespace

struct ChecksAhead::Check
{
    std::string path;
    CardFileKind kind;
    std::int64_t begun = 0; // on the clock of FileStamp::changed, less the slack
    bool reached = false;
    bool failed = false; // the look threw: the turn meets that itself
    std::optional<std::string> damage;
};

ChecksAhead::ChecksAhead(const ContentCheckPort& check) : m_check(check)
{
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
    for (unsigned i = 0; i < threads; ++i) {
        m_workers.emplace_back([this](const std::stop_token& stop) { work(stop); });
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

void ChecksAhead::work(const std::stop_token& stop)
{
    std::unique_lock lock(m_mutex);
    while (m_changed.wait(lock, stop, [this] { return !m_queued.empty(); })) {
        const std::shared_ptr<Check> check = m_queued.front().lock();
        m_queued.pop_front();
        if (!check) {
            continue; // its card was passed over
        }
        check->begun = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch() - kClockSlack)
                           .count();
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
        if (!ahead->failed && now.changed < ahead->begun) {
            return std::move(ahead->damage);
        }
    }
    return m_check.fileDamage(path, kind);
}

} // namespace kqget
