#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <string>
#include <string_view>

namespace kqget {

// Holds the data folder and the log's folder with flock() on the folders
// themselves: nothing is created in either, and the kernel lets go of a lock
// when the last descriptor of its process closes, at a crash too. Throws
// RunError (RunUnderWay) when another run holds either.
std::unique_ptr<RunLock> lockRunFolders(std::string_view logPath, std::string_view dataFolder);

// The folder the log at `logPath` goes to, as an absolute path; "." when the
// system cannot tell the working folder.
std::string folderOfLog(std::string_view logPath);

} // namespace kqget
