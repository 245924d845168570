#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace kqget {

// Where the card files' new contents wait, as "NAME.kqget-<random>.tmp"
// beside each card file. The random part makes a name no other process,
// earlier or at the same time, has used; one that exists all the same is
// passed over for the next. It knows which of them are this process's own, so
// that a sweep for what an earlier, killed run left never takes one that is
// waiting for its turn.
class Win32StagingArea : public std::enable_shared_from_this<Win32StagingArea>
{
public:
    // Throws RunError naming the card file.
    std::unique_ptr<StagedFile> stage(std::string_view target);

    // Removes the plain files in the card file's folder whose names have
    // exactly its temporary form (or that of earlier versions,
    // "NAME.kqget-<process>-<n>.tmp") and are not this process's own; never
    // a link, a junction or a folder. A failure only leaves a leftover.
    void removeLeftovers(std::string_view target) noexcept;

private:
    friend class Win32StagedFile;

    std::mutex m_mutex;
    std::set<std::wstring> m_live;
};

} // namespace kqget
