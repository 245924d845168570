#include "cli/run_summary.h"

namespace kqget {

std::string runSummaryText(const RunTally& tally, std::string_view logPath)
{
    std::string text;
    text.append("Cards checked: ").append(std::to_string(tally.cardsChecked)).append("\n");
    text.append("Files fetched: ").append(std::to_string(tally.filesStored)).append("\n");
    text.append("Files not stored: ").append(std::to_string(tally.notStored.size())).append("\n");
    for (const NotStoredFile& file : tally.notStored) {
        text.append("  ").append(file.url).append(" (").append(file.reason).append(")\n");
    }
    text.append("Log: ").append(logPath).append("\n");
    return text;
}

} // namespace kqget
