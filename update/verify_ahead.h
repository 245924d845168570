#pragma once

#include "update/card_walk.h"
#include "update/content_check_port.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace kqget {

// Looks into the card files a run will keep, on a few threads of its own,
// ahead of the card whose turn it is: a library in order is mostly reading
// and inflating, which several cores share. Nothing is decided here; the run
// asks at each file's turn, and a verdict reached ahead counts only for a
// file whose size has not changed since.
class VerifyAhead
{
public:
    // `turn` is the run's own walk, at the card whose turn comes next.
    VerifyAhead(const ContentCheckPort& check, const CardWalk& turn);
    ~VerifyAhead();
    VerifyAhead(const VerifyAhead&) = delete;
    VerifyAhead& operator=(const VerifyAhead&) = delete;

    // What is wrong with the file at `path`, which has `size` bytes now;
    // none when it is sound.
    std::optional<std::string> damage(const std::string& path, CardFileKind kind,
                                      std::uint64_t size);

private:
    struct Job
    {
        std::string path;
        CardFileKind kind;
    };
    struct Verdict
    {
        std::uint64_t size = 0;
        bool reached = false;
        std::optional<std::string> damage;
    };

    void walkAhead();
    void work();

    const ContentCheckPort& m_check;
    std::optional<CardWalk> m_ahead;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    std::unordered_map<std::string, Verdict> m_verdicts;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

} // namespace kqget
