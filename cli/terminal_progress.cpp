#include "cli/terminal_progress.h"

#include "cli/duration_text.h"
#include "cli/host_system.h"
#include "update/display_text.h"

#include <algorithm>

namespace kqget {

namespace {

// Ten redraws a second look live without costing a walk of a large library.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kFallbackWidth = 80;

// The run's lists only grow: what is new is appended, so that keeping them
// costs each entry one copy however long the run.
template <typename Entry> void appendNew(std::vector<Entry>& kept, const std::vector<Entry>& told)
{
    if (told.size() > kept.size()) {
        kept.insert(kept.end(), told.begin() + static_cast<std::ptrdiff_t>(kept.size()),
                    told.end());
    }
}

std::size_t terminalWidth(std::FILE* out)
{
    const std::size_t columns = terminalColumns(out);
    return columns > 0 ? columns : kFallbackWidth;
}

// Cuts to at most `width` columns, counting a UTF-8 character as one.
void cutTo(std::string& text, std::size_t width)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == width) {
            text.resize(i);
            return;
        }
    }
}

// Columns a line takes, counting a UTF-8 character as one.
std::size_t columnsOf(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Where the line leaves less room than this for the file's name, it shows none.
constexpr std::size_t kShortestName = 8;

// At most `width` columns of `text`, its middle given up for "…".
std::string shortened(const std::string& text, std::size_t width)
{
    const std::size_t columns = columnsOf(text);
    if (columns <= width) {
        return text;
    }
    const std::size_t keep = width - 1;
    const std::size_t tail = keep / 2;
    // Byte offsets of the first `keep - tail` and the last `tail` characters.
    std::size_t seen = 0;
    std::size_t headEnd = 0;
    std::size_t tailStart = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
            continue;
        }
        if (seen == keep - tail) {
            headEnd = i;
        }
        if (seen == columns - tail) {
            tailStart = i;
        }
        ++seen;
    }
    return text.substr(0, headEnd) + "…" + text.substr(tailStart);
}

std::string_view fileNameOf(std::string_view path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

TerminalProgress::TerminalProgress(std::FILE* out, std::function<bool()> stop,
                                   std::function<Clock::time_point()> now, std::size_t columns)
    : m_out(out), m_stop(std::move(stop)), m_now(std::move(now)), m_started(m_now()),
      m_columns(columns), m_erasesWithEscapes(out != nullptr && erasesWithEscapes(out))
{}

TerminalProgress::~TerminalProgress()
{
    finish();
}

void TerminalProgress::tallyChanged(const RunTally& tally)
{
    m_tally.cardsChecked = tally.cardsChecked;
    m_tally.filesStored = tally.filesStored;
    m_tally.verified = tally.verified;
    appendNew(m_tally.notStored, tally.notStored);
    appendNew(m_tally.stillTooSmall, tally.stillTooSmall);
    appendNew(m_tally.damaged, tally.damaged);
    m_cards = tally.cardsChecked;
    m_notStored = tally.notStored.size();
    m_dirty = true;
    redrawWhenDue();
}

void TerminalProgress::fetchApplied(const FetchActivity& activity)
{
    m_file = escapeControls(fileNameOf(activity.path));
    m_applied = activity.filesApplied;
    m_queued = activity.filesQueued;
    m_total = activity.filesTotal;
    m_dirty = true;
    redrawWhenDue();
}

void TerminalProgress::redrawWhenDue()
{
    if (m_out == nullptr || !m_dirty) {
        return;
    }
    const auto now = m_now();
    if (m_drawn && now - m_lastDraw < kRedrawInterval) {
        return;
    }
    m_lastDraw = now;
    redraw();
}

void TerminalProgress::whileWaiting()
{
    // The rate and the time left move on while the run waits.
    m_dirty = m_dirty || m_applied > 0;
    redrawWhenDue();
}

// The counts, the rate and the time left, in as many words as `width` has
// room for: the file's name is what gives way.
std::string TerminalProgress::line(std::size_t width) const
{
    std::string fetched = std::to_string(m_applied);
    if (m_total) {
        fetched.append("/").append(std::to_string(*m_total));
    }
    std::string pace;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_now() - m_started);
    if (m_applied > 0 && elapsed.count() > 0) {
        const double perSecond = static_cast<double>(m_applied) * 1000.0 / elapsed.count();
        char rate[32];
        std::snprintf(rate, sizeof rate, ", %.1f/s", perSecond);
        pace.append(rate);
        if (m_total && *m_total >= m_applied) {
            const auto left = std::chrono::milliseconds(
                static_cast<long long>((*m_total - m_applied) * 1000.0 / perSecond));
            pace.append(", ").append(durationText(left)).append(" left");
        }
    }
    const std::string notStored =
        m_notStored > 0 ? ", " + std::to_string(m_notStored) + " not stored" : std::string();
    const std::string cards = std::to_string(m_cards) + (m_cards == 1 ? " card, " : " cards, ");
    const std::string forms[] = {
        cards + fetched + " fetched, " + std::to_string(m_queued) + " queued" + notStored + pace,
        fetched + " fetched" + notStored + pace,
        fetched + notStored + pace,
    };
    std::string text = forms[std::size(forms) - 1];
    for (const std::string& form : forms) {
        if (columnsOf(form) <= width) {
            text = form;
            break;
        }
    }
    // The file's name starts with its card's id, so it names both; cut in
    // the middle, it keeps the id and the kind of file.
    const std::size_t used = columnsOf(text) + 2;
    if (!m_file.empty() && used + kShortestName <= width) {
        text.append(": ").append(shortened(m_file, width - used));
    }
    return text;
}

void TerminalProgress::redraw()
{
    const std::size_t width = (m_columns > 0 ? m_columns : terminalWidth(m_out)) - 1;
    std::string text = line(width);
    cutTo(text, width);
    draw(text);
    m_dirty = false;
    m_drawn = true;
}

// Back to the line's start, the text, then the rest of the old line erased:
// by the escape sequence where the terminal acts on it, else by spaces and a
// second carriage return.
void TerminalProgress::draw(const std::string& text)
{
    const std::size_t columns = columnsOf(text);
    std::string out = "\r" + text;
    if (m_erasesWithEscapes) {
        out.append("\x1b[K");
    } else if (columns < m_drawnColumns) {
        out.append(m_drawnColumns - columns, ' ').append("\r").append(text);
    }
    m_drawnColumns = columns;
    // The line is decoration: a terminal that cannot show it costs the run nothing.
    writeText(m_out, out);
    std::fflush(m_out);
}

void TerminalProgress::finish()
{
    if (m_out != nullptr && m_drawn) {
        draw({});
        m_drawn = false;
    }
}

} // namespace kqget
