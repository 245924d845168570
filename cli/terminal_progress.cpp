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

std::size_t terminalWidth(std::FILE* out)
{
    const std::size_t columns = terminalColumns(out);
    return columns > 0 ? columns : kFallbackWidth;
}

// Cuts to at most `width` bytes without splitting a UTF-8 character.
void cutTo(std::string& text, std::size_t width)
{
    if (text.size() <= width) {
        return;
    }
    std::size_t end = width;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
}

// Columns a line takes, counting a UTF-8 character as one.
std::size_t columnsOf(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string_view fileNameOf(std::string_view path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

TerminalProgress::TerminalProgress(std::FILE* out, std::function<bool()> stop,
                                   std::function<Clock::time_point()> now)
    : m_out(out), m_stop(std::move(stop)), m_now(std::move(now)), m_started(m_now()),
      m_erasesWithEscapes(out != nullptr && erasesWithEscapes(out))
{}

TerminalProgress::~TerminalProgress()
{
    finish();
}

void TerminalProgress::tallyChanged(const RunTally& tally)
{
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

std::string TerminalProgress::line() const
{
    std::string text = std::to_string(m_cards) + " cards, " + std::to_string(m_applied);
    if (m_total) {
        text.append("/").append(std::to_string(*m_total));
    }
    text.append(" fetched, ").append(std::to_string(m_queued)).append(" queued");
    if (m_notStored > 0) {
        text.append(", ").append(std::to_string(m_notStored)).append(" not stored");
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_now() - m_started);
    if (m_applied > 0 && elapsed.count() > 0) {
        const double perSecond = static_cast<double>(m_applied) * 1000.0 / elapsed.count();
        char rate[32];
        std::snprintf(rate, sizeof rate, ", %.1f/s", perSecond);
        text.append(rate);
        if (m_total && *m_total >= m_applied) {
            const auto left = std::chrono::milliseconds(
                static_cast<long long>((*m_total - m_applied) * 1000.0 / perSecond));
            text.append(", ").append(durationText(left)).append(" left");
        }
    }
    // The file's name starts with its card's id, so it names both.
    if (!m_file.empty()) {
        text.append(": ").append(m_file);
    }
    return text;
}

void TerminalProgress::redraw()
{
    std::string text = line();
    cutTo(text, terminalWidth(m_out) - 1);
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
