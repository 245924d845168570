#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace kqget {

// Holds the data folder and the log's folder for a run, by the system's own
// lock on each folder: nothing is created in either, a folder is the same
// under every name it has, and the system lets go when the process ends,
// however it ends. Throws RunError (RunUnderWay) naming the folder when
// another run holds either.
std::unique_ptr<RunLock> lockRunFolders(std::string_view logPath, std::string_view dataFolder);

// Each system's own, in its room:

// The folder the log at `logPath` goes to, as an absolute path; "." when the
// system cannot tell the working folder.
std::string folderOfLog(std::string_view logPath);

// One folder, opened to be held.
class FolderLock : public RunLock
{
public:
    // The same under every name of the folder (its volume and file number).
    explicit FolderLock(std::string identity) : identity(std::move(identity)) {}
    const std::string identity;
    // False when another run holds the folder. A file system or session that
    // has no such lock leaves the run unguarded rather than impossible.
    virtual bool take() = 0;
};

// Null when `folder` cannot be opened as a folder: the walk or the log then
// names what is wrong with it.
std::unique_ptr<FolderLock> openFolderLock(const std::string& folder);

} // namespace kqget
