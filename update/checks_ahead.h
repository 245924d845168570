#pragma once

#include "update/content_check_port.h"
#include "update/file_system_port.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kqget {

// Looks into the card files a run will keep, on a few threads of its own,
// ahead of their card's turn: a library in order is mostly reading and
// inflating, which several cores share. Nothing is decided here, and no file
// is sized for it: a verdict reached ahead counts at the file's turn only when
// the size query the run makes then says that the file has not changed since
// before the look began.
class ChecksAhead
{
public:
    // One file's look; its verdict lives as long as the handle. A handle let
    // go before its look began is passed over.
    struct Check;

    explicit ChecksAhead(const ContentCheckPort& check);

    // None where the file system has told no change time: nothing is looked
    // into ahead.
    std::shared_ptr<Check> queue(std::string path, CardFileKind kind);

    // What is wrong with the file at `path`, whose size query at its turn
    // gave `now`; none when it is sound. Takes the verdict of `ahead` when it
    // still holds.
    std::optional<std::string> damage(const std::shared_ptr<Check>& ahead, const std::string& path,
                                      CardFileKind kind, FileStamp now);

private:
    void work(const std::stop_token& stop);

    const ContentCheckPort& m_check;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<std::weak_ptr<Check>> m_queued;
    bool m_blind = false;                // the run's thread only
    std::vector<std::jthread> m_workers; // the first to go: stopped and joined
};

} // namespace kqget
