#include "app/unrepaired_files_notice.h"

#include "update/display_text.h"

#include <vector>

namespace kqget {

namespace {

std::string filesText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

} // namespace

std::optional<std::string> unrepairedFilesNotice(const RunTally& tally, std::string_view key,
                                                 std::string_view logPath)
{
    const std::size_t count = tally.notStored.size() + tally.stillTooSmall.size();
    if (count == 0) {
        return std::nullopt;
    }
    const auto shown = [key](std::string_view text) { return escapeControls(hideKey(text, key)); };

    std::vector<std::string> lines;
    for (const NotStoredFile& file : tally.notStored) {
        lines.push_back(shown(file.url) + " (not stored: " + shown(file.reason) + ")");
    }
    for (const SmallFile& file : tally.stillTooSmall) {
        lines.push_back(shown(file.url) + " (" + std::to_string(file.size) +
                        " bytes: still too small)");
    }

    std::string text = filesText(count) + (count == 1 ? " is" : " are") +
                       " not repaired and will be fetched again next run: " +
                       std::to_string(tally.notStored.size()) + " not stored, " +
                       std::to_string(tally.stillTooSmall.size()) + " still too small.\n\n";
    for (std::size_t line = 0; line < lines.size() && line < kNoticeUrls; ++line) {
        text.append(lines[line]).append("\n");
    }
    if (lines.size() > kNoticeUrls) {
        text.append("and ").append(std::to_string(lines.size() - kNoticeUrls)).append(" more\n");
    }
    // On a line of its own: a message box wraps long lines at hyphens too, and
    // would break the path inside its file name.
    text.append("\nThe log lists them all:\n").append(escapeControls(logPath));
    return text;
}

} // namespace kqget
