#include "cli/terminal_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace kqget {

namespace {

// Ten redraws a second look live without costing a walk of a large library.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kFallbackWidth = 80;

std::size_t terminalWidth(std::FILE* out)
{
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return kFallbackWidth;
}

} // namespace

TerminalProgress::TerminalProgress(std::FILE* out, std::function<bool()> stop,
                                   std::function<Clock::time_point()> now)
    : m_out(out), m_stop(std::move(stop)), m_now(std::move(now))
{}

TerminalProgress::~TerminalProgress()
{
    finish();
}

void TerminalProgress::setStatusText(std::string_view text)
{
    m_action.assign(text);
    m_dirty = true;
}

void TerminalProgress::tallyChanged(const RunTally& tally)
{
    m_cards = tally.cardsChecked;
    m_stored = tally.filesStored;
    m_notStored = tally.notStored.size();
    m_dirty = true;
}

void TerminalProgress::processPendingEvents()
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

void TerminalProgress::redraw()
{
    std::string line = "cards " + std::to_string(m_cards) + ", fetched " +
                       std::to_string(m_stored) + ", not stored " + std::to_string(m_notStored);
    if (!m_action.empty()) {
        line.append(": ").append(m_action);
    }
    const std::size_t width = terminalWidth(m_out);
    if (line.size() >= width) {
        line.resize(width - 1);
    }
    // Carriage return, then erase to the end of the line.
    std::fprintf(m_out, "\r%s\x1b[K", line.c_str());
    std::fflush(m_out);
    m_dirty = false;
    m_drawn = true;
}

void TerminalProgress::finish()
{
    if (m_out != nullptr && m_drawn) {
        std::fputs("\r\x1b[K", m_out);
        std::fflush(m_out);
        m_drawn = false;
    }
}

} // namespace kqget
