#pragma once

#include "update/card_walk.h"
#include "update/file_system_port.h"
#include "update/progress_port.h"
#include "update/run_inputs.h"
#include "update/run_log.h"
#include "update/run_options.h"
#include "update/run_tally.h"
#include "update/service_bases.h"
#include "update/transfer_port.h"

#include <string>
#include <string_view>

namespace kqget {

// The job behind the update button: walks the card folders A to D of the data
// folder and fetches every card file that is missing or too small.
//
// Fetches planned ahead go out several at once, but every decision is taken
// at each card's turn, in walk order, against the file system as it is then:
// for any change made before a card's turn, the log, the card files, the
// window and the tally come out exactly as if each fetch had waited for the
// one before it.
class CardUpdateRun
{
public:
    CardUpdateRun(ProgressPort& progress, FileSystemPort& fileSystem, TransferPort& transfer,
                  RunOptions options = {}, ServiceHosts hosts = ServiceBases::configured().hosts(),
                  std::string logPath = std::string(kRunLogFileName));

    // Runs to the end, or to the first safe point after a stop request.
    // Throws RunError when a failure ends the run, a service that keeps
    // refusing included; the log is closed either way and no fetch is left
    // under way, and the last tally told shows what was done.
    RunTally run(const RunInputs& inputs);

private:
    class LibraryRepair;

    ProgressPort& m_progress;
    FileSystemPort& m_fileSystem;
    TransferPort& m_transfer;
    RunOptions m_options;
    ServiceHosts m_hosts;
    std::string m_logPath;
};

} // namespace kqget
