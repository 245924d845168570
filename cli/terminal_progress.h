#pragma once

#include "update/progress_port.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace kqget {

// Progress of a headless run: one line on a terminal's stderr, redrawn a few
// times a second at most; nothing at all when stderr is not a terminal. The
// line names the card file whose fetch was applied last, never its URL (which
// can hold the key).
class TerminalProgress final : public ProgressPort
{
public:
    using Clock = std::chrono::steady_clock;

    // `out` null means no progress line. `stop` is asked at the run's safe
    // points. `columns` 0: as wide as the terminal is at each redraw.
    TerminalProgress(std::FILE* out, std::function<bool()> stop,
                     std::function<Clock::time_point()> now = Clock::now, std::size_t columns = 0);
    ~TerminalProgress() override;

    void tallyChanged(const RunTally& tally) override;
    void fetchApplied(const FetchActivity& activity) override;
    void runEnded(const RunTally& /*tally*/) override { finish(); }
    void whileWaiting() override;
    bool stopRequested() override { return m_stop && m_stop(); }

    // Clears the line so that what follows starts at the left margin.
    void finish();

    // The counts as the run last told them: what a run that failed had done.
    const RunTally& tallySoFar() const noexcept { return m_tally; }

private:
    void redrawWhenDue();
    void redraw();
    void draw(const std::string& text);
    std::string line(std::size_t width) const;

    std::FILE* m_out;
    std::function<bool()> m_stop;
    std::function<Clock::time_point()> m_now;
    Clock::time_point m_started;
    std::size_t m_columns;
    Clock::time_point m_lastDraw{};
    bool m_erasesWithEscapes;
    bool m_dirty = false;
    bool m_drawn = false;
    std::size_t m_drawnColumns = 0; // what spaces must cover without the escape
    std::size_t m_cards = 0;
    std::size_t m_notStored = 0;
    std::size_t m_applied = 0;
    std::size_t m_queued = 0;
    std::optional<std::size_t> m_total;
    std::string m_file; // the name alone, escaped for the terminal
    RunTally m_tally;
};

} // namespace kqget
