#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <string_view>

namespace kqget {

// A card file's new content. A new card file is written into a file that has
// no name yet where the file system allows it (O_TMPFILE), which a kill
// removes with the process, and gets its name in one step, in its own folder.
// A replaced file, or a file system without unnamed files, goes through a
// temporary name in the data folder, renamed into place, which the next run
// removes if a kill left it; beside the card file where its card folder is on
// another file system. Throws RunError naming the card file.
std::unique_ptr<StagedFile> stagePosixFile(std::string_view target);

} // namespace kqget
