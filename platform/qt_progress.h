#pragma once

#include "update/progress_port.h"

#include <QElapsedTimer>

#include <chrono>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kqget {

// The controls a run writes, by their part in it.
struct ProgressWidgets
{
    QPushButton* update;   // Command1
    QCheckBox* confirm;    // Check1
    QPushButton* reset;    // Command2
    QLineEdit* dataFolder; // tDATA
    QLineEdit* size;       // Text1
    QLineEdit* status;     // Text2
};

// A run's progress shown in the window's own controls, on the window's thread.
//
// A walk over thousands of cards writes the two progress fields and asks for
// pending events several times per card; repainting each time would cost far
// more than the walk. So the fields are written when events are processed, and
// events are processed at most once per `eventInterval` (well under what the
// eye notices). Buttons and the box change at once: a run writes them rarely.
// The widgets must outlive the run; the window that owns them is never deleted
// while a run is under way.
class QtProgress final : public ProgressPort
{
public:
    static constexpr std::chrono::milliseconds kDefaultEventInterval{25};

    explicit QtProgress(const ProgressWidgets& widgets,
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

    // Writes the progress texts not yet shown; the window calls it when the run
    // has ended, whichever way.
    void showPendingTexts();

    // The window was closed: the run ends at its next safe point.
    void requestStop() noexcept { m_stopRequested = true; }

private:
    struct PendingText
    {
        std::string text;
        bool pending = false;
    };

    ProgressWidgets m_widgets;
    std::chrono::milliseconds m_eventInterval;
    QElapsedTimer m_sinceEvents;
    PendingText m_size;
    PendingText m_status;
    bool m_stopRequested = false;
};

} // namespace kqget
