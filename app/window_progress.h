#pragma once

#include "app/window_view.h"
#include "update/progress_port.h"

#include <chrono>
#include <optional>
#include <string>

namespace kqget {

// What a run under way shows in the window, on the window's thread: it locks
// the window when the run starts (the Running state) and mirrors the run's
// steps in the data folder, size and status fields. How a run ends is the
// window logic's to show.
//
// A walk over thousands of cards sizes two files per card; repainting each
// time would cost far more than the walk. So the two progress fields are
// written when events are processed, and events are processed after a visible
// change at most once per `eventInterval` (well under what the eye notices).
// Buttons, the box and the data folder change at once: a run writes them rarely.
class WindowProgress final : public ProgressPort
{
public:
    // `key`: the account key as sent, which the status field shows as "…".
    WindowProgress(WindowView& view, std::chrono::milliseconds eventInterval,
                   std::string_view key = {});

    void runStarted() override;
    void dataFolderNormalised(std::string_view dataFolder) override;
    void fileSized(std::string_view path, std::string_view sizeText) override;
    void fetchApplied(const FetchActivity& activity) override;
    void whileWaiting() override { processPendingEvents(); }
    bool stopRequested() override { return m_stopRequested; }

    // Lets the window handle its queued input and repaint, the progress
    // fields written first; nothing when events were processed less than the
    // interval ago.
    void processPendingEvents();

    // Writes the progress texts not yet shown; called when the run has ended,
    // whichever way.
    void showPendingTexts();

    // The window is closing: the run ends at its next safe point, and a fetch
    // it waits for is abandoned.
    void requestStop() noexcept { m_stopRequested = true; }

private:
    struct PendingText
    {
        Control control;
        std::string text{};
        bool pending = false;
    };

    void show(PendingText& field, std::string_view text);

    WindowView& m_view;
    std::chrono::milliseconds m_eventInterval;
    std::string m_key;
    std::optional<std::chrono::steady_clock::time_point> m_lastEvents;
    PendingText m_size{Control::Size};
    PendingText m_status{Control::Status};
    bool m_stopRequested = false;
};

} // namespace kqget
