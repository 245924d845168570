#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <string_view>

namespace kqget {

// Holds the data folder and the log's folder by a named mutex per folder,
// named after the folder's volume and file index: nothing is created in
// either folder, a second name for the same folder (a short name, a mapped
// drive) finds the same mutex, and the system removes it with the last
// handle, when the process ends however it ends. Throws RunError
// (RunUnderWay) when another run holds either.
std::unique_ptr<RunLock> lockRunFolders(std::string_view logPath, std::string_view dataFolder);

} // namespace kqget
