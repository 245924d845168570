#pragma once

#include "update/run_tally.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace kqget {

// Where the run stands after applying a fetch's result, for a progress line.
struct FetchActivity
{
    std::string_view cardId;      // as found: escape it before showing it
    std::string_view path;        // the card file just handled
    std::size_t filesApplied = 0; // fetches whose results were applied, stored or not
    std::size_t filesQueued = 0;  // fetches asked for, neither applied nor dropped yet
    // Every fetch the run will make, when it counted them before starting.
    std::optional<std::size_t> filesTotal;
};

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
    // Called about every 50 ms while the run waits for a fetch; a window processes its events here.
    virtual void whileWaiting() {}

    // Asked at the run's safe points (before a fetch, between cards); true ends
    // the run there with the log closed and no file half-written.
    virtual bool stopRequested() { return false; }

    // The running counts changed; only the headless command shows them.
    virtual void tallyChanged(const RunTally& /*tally*/) {}

    // A fetch's result was applied (stored or not); only the headless command shows it.
    virtual void fetchApplied(const FetchActivity& /*activity*/) {}
};

} // namespace kqget
