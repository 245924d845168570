#pragma once

#include "update/run_tally.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace kqget {

// A fetch whose reply the run has just taken at its card's turn, to be stored
// or refused next, and where the run then stands.
struct FetchActivity
{
    std::string_view path;        // the card file the reply is for
    std::string_view url;         // the URL fetched, as the log has it: it can hold the key
    std::size_t filesApplied = 0; // fetches whose replies were taken, this one included
    std::size_t filesQueued = 0;  // fetches asked for, neither taken nor dropped yet
    // Every fetch the run will make, when it counted them before starting.
    std::optional<std::size_t> filesTotal;
};

// What a run tells of itself while it works: what happened, in the run's
// terms. Each front end decides what to show of it, and when to let its user
// interface catch up: the window writes its controls, the headless command
// draws a progress line. Every call comes on the run's thread, in the order
// of the run's log.
class ProgressPort
{
public:
    virtual ~ProgressPort() = default;

    // The run begins; it has read nothing yet.
    virtual void runStarted() {}

    // The data folder typed did not end in the separator: `dataFolder` is the
    // folder the run uses, the separator appended.
    virtual void dataFolderNormalised(std::string_view /*dataFolder*/) {}

    // A card file was sized, before deciding on its fetch or after storing one.
    // `sizeText` is the size as the log writes it.
    virtual void fileSized(std::string_view /*path*/, std::string_view /*sizeText*/) {}

    // A fetch's reply was taken at its card's turn, after the log named its URL.
    virtual void fetchApplied(const FetchActivity& /*activity*/) {}

    // The running counts changed.
    virtual void tallyChanged(const RunTally& /*tally*/) {}

    // The run got to its end, or stopped at a safe point when asked to
    // (`tally.stopped`); its log is closed. A run that fails throws instead.
    virtual void runEnded(const RunTally& /*tally*/) {}

    // Called about every 50 ms while the run waits for a fetch; a window
    // handles its queued input here.
    virtual void whileWaiting() {}

    // Asked at the run's safe points (before a fetch, between cards); true ends
    // the run there with the log closed and no file half-written.
    virtual bool stopRequested() { return false; }
};

} // namespace kqget
