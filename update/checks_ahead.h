#pragma once

#include "update/content_check_port.h"
#include "update/file_system_port.h"

#include <memory>
#include <optional>
#include <string>

namespace kqget {

// Looks into the card files a run will keep ahead of their card's turn, each
// on a thread of its own: a library in order is mostly reading and inflating,
// which several cores share. Nothing is decided here, and no file is sized
// for it: a verdict reached ahead counts at the file's turn only when the size
// query the run makes then says that the file has not changed since before
// the look began.
class ChecksAhead
{
public:
    // One file's look, under way or done.
    struct Check;

    explicit ChecksAhead(const ContentCheckPort& check) : m_check(check) {}

    // None where the file system has told no change time, or no thread could
    // be had: the file is looked into at its turn.
    std::shared_ptr<Check> queue(std::string path, CardFileKind kind) noexcept;

    // What is wrong with the file at `path`, whose size query at its turn
    // gave `now`; none when it is sound. Takes the verdict of `ahead` when it
    // still holds.
    std::optional<std::string> damage(const std::shared_ptr<Check>& ahead, const std::string& path,
                                      CardFileKind kind, FileStamp now);

private:
    const ContentCheckPort& m_check;
    bool m_blind = false;
};

} // namespace kqget
