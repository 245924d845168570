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
// inflating, which several cores share. Nothing is decided here: a verdict
// reached ahead counts at the file's turn only while the file is the one
// looked into, by its size, its modification time and its id.
class ChecksAhead
{
public:
    // One file's look; its verdict lives as long as the handle.
    struct Check
    {
        std::string path;
        CardFileKind kind;
        FileStamp stamp; // the file as it was when queued
        bool reached = false;
        bool failed = false; // the check threw: the turn meets that itself
        std::optional<std::string> damage;
    };

    explicit ChecksAhead(const ContentCheckPort& check);
    ~ChecksAhead();
    ChecksAhead(const ChecksAhead&) = delete;
    ChecksAhead& operator=(const ChecksAhead&) = delete;

    // A handle let go before its look began is passed over.
    std::shared_ptr<Check> queue(std::string path, CardFileKind kind, FileStamp stamp);

    // What is wrong with the file at `path`, which is at `now`; none when it
    // is sound. Takes the verdict of `ahead` when it is of the same file.
    std::optional<std::string> damage(const std::shared_ptr<Check>& ahead, const std::string& path,
                                      CardFileKind kind, FileStamp now);

private:
    void work();

    const ContentCheckPort& m_check;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::weak_ptr<Check>> m_queued;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

} // namespace kqget
