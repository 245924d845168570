#pragma once

#include "update/run_error.h"

#include <string_view>

namespace kqget {

// The refusal of a run that finds another one holding `folder`, its data
// folder or the folder its log goes to.
RunError runUnderWay(std::string_view folder, bool isDataFolder);

} // namespace kqget
