#include "cli/run_summary.h"

#include "cli/duration_text.h"
#include "update/display_text.h"

namespace kqget {

std::string runSummaryText(const RunTally& tally, std::string_view logPath,
                           std::chrono::milliseconds wallTime, std::string_view key)
{
    const auto shown = [key](std::string_view text) { return escapeControls(hideKey(text, key)); };
    std::string text;
    text.append("Cards checked: ").append(std::to_string(tally.cardsChecked)).append("\n");
    text.append("Files fetched: ").append(std::to_string(tally.filesStored)).append("\n");
    text.append("Files not stored: ").append(std::to_string(tally.notStored.size())).append("\n");
    for (const NotStoredFile& file : tally.notStored) {
        text.append("  ").append(shown(file.url)).append(" (").append(shown(file.reason));
        text.append(")\n");
    }
    text.append("Files still too small: ")
        .append(std::to_string(tally.stillTooSmall.size()))
        .append("\n");
    for (const SmallFile& file : tally.stillTooSmall) {
        text.append("  ").append(shown(file.url)).append(" (").append(std::to_string(file.size));
        text.append(" bytes; still too small: fetched again next run)\n");
    }
    if (tally.verified) {
        text.append("Files found damaged: ")
            .append(std::to_string(tally.damaged.size()))
            .append("\n");
        for (const DamagedFile& file : tally.damaged) {
            text.append("  ").append(escapeControls(file.path)).append(" (");
            text.append(escapeControls(file.reason)).append(")\n");
        }
    }
    text.append("Time: ").append(durationText(wallTime)).append("\n");
    text.append("Log: ").append(escapeControls(logPath)).append("\n");
    return text;
}

} // namespace kqget
