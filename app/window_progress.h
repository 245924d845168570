#pragma once

#include "app/window_view.h"
#include "update/progress_port.h"

#include <chrono>
#include <optional>
#include <string>

namespace kqget {

// A run's progress shown in the window's own controls, on the window's thread.
//
// A walk over thousands of cards writes the two progress fields and asks for
// pending events several times per card; repainting each time would cost far
// more than the walk. So the fields are written when events are processed, and
// events are processed at most once per `eventInterval` (well under what the
// eye notices). Buttons and the box change at once: a run writes them rarely.
class WindowProgress final : public ProgressPort
{
public:
    static constexpr std::chrono::milliseconds kDefaultEventInterval{25};

    explicit WindowProgress(WindowView& view,
                            std::chrono::milliseconds eventInterval = kDefaultEventInterval);

    void setUpdateEnabled(bool enabled) override;
    void setUpdateCaption(std::string_view text) override;
    void setConfirmEnabled(bool enabled) override;
    void setResetEnabled(bool enabled) override;
    void setDataFolderText(std::string_view text) override;
    void setSizeText(std::string_view text) override;
    void setStatusText(std::string_view text) override;
    void processPendingEvents() override;
    void whileWaiting() override { processPendingEvents(); }
    bool stopRequested() override { return m_stopRequested; }

    // Writes the progress texts not yet shown; called when the run has ended,
    // whichever way.
    void showPendingTexts();

    // The window is closing: the run ends at its next safe point, and a fetch
    // it waits for is abandoned.
    void requestStop() noexcept { m_stopRequested = true; }

private:
    struct PendingText
    {
        std::string_view control;
        std::string text{};
        bool pending = false;
    };

    WindowView& m_view;
    std::chrono::milliseconds m_eventInterval;
    std::optional<std::chrono::steady_clock::time_point> m_lastEvents;
    PendingText m_size{controls::kSize};
    PendingText m_status{controls::kStatus};
    bool m_stopRequested = false;
};

} // namespace kqget
