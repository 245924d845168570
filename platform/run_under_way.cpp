#include "platform/run_under_way.h"

#include <string>

namespace kqget {

RunError runUnderWay(std::string_view folder, bool isDataFolder)
{
    const std::string what = isDataFolder ? "data folder '" : "the log's folder '";
    return RunError(ErrorNumber::RunUnderWay,
                    "cannot run on " + what + std::string(folder) +
                        "': another run of kqget is under way there; wait for it to end");
}

} // namespace kqget
