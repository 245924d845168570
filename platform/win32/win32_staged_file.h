#pragma once

#include "update/file_system_port.h"

#include <memory>
#include <string_view>

namespace kqget {

// A temporary file in the data folder, deleted unless moved into place.
// Throws RunError naming the card file.
std::unique_ptr<StagedFile> stageWin32File(std::string_view target);

} // namespace kqget
