#pragma once

#include "update/run_tally.h"

#include <string_view>

namespace kqget {

// What a run shows while it works. The window binds each call to the control
// named beside it; the headless command draws its own progress line.
class ProgressPort
{
public:
    virtual ~ProgressPort() = default;

    virtual void setUpdateEnabled(bool enabled) = 0;           // Command1.Enabled
    virtual void setUpdateCaption(std::string_view text) = 0;  // Command1.Caption
    virtual void setConfirmEnabled(bool enabled) = 0;          // Check1.Enabled
    virtual void setResetEnabled(bool enabled) = 0;            // Command2.Enabled
    virtual void setDataFolderText(std::string_view text) = 0; // tDATA.Text
    virtual void setSizeText(std::string_view text) = 0;       // Text1.Text
    virtual void setStatusText(std::string_view text) = 0;     // Text2.Text

    // Lets the user interface handle queued input and repaint.
    virtual void processPendingEvents() = 0;

    // Asked at the run's safe points (before a fetch, between cards); true ends
    // the run there with the log closed and no file half-written.
    virtual bool stopRequested() { return false; }

    // The running counts changed; only the headless command shows them.
    virtual void tallyChanged(const RunTally& /*tally*/) {}
};

} // namespace kqget
