#pragma once

#include "update/card_locations.h"
#include "update/file_system_port.h"
#include "update/progress_port.h"
#include "update/run_inputs.h"
#include "update/run_log.h"
#include "update/run_tally.h"
#include "update/transfer_port.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kqget {

// An illustration smaller than this is fetched again.
inline constexpr std::uint64_t kMinimumIllustrationSize = 11000;

// The job behind the update button: walks the card folders A to D of the data
// folder and fetches every card file that is missing or too small.
class CardUpdateRun
{
public:
    CardUpdateRun(ProgressPort& progress, FileSystemPort& fileSystem, TransferPort& transfer,
                  ServiceHosts hosts = ServiceHosts::configured(),
                  std::string logPath = std::string(kRunLogFileName));

    // Runs to the end, or to the first safe point after a stop request.
    // Throws RunError when a failure ends the run; the log is closed either way.
    RunTally run(const RunInputs& inputs);

private:
    void updateCard(RunLog& log, const CardLocations& cards, std::string_view cardId);
    std::uint64_t sizeFile(RunLog& log, const std::string& path);
    void fetchInto(RunLog& log, const std::string& url, const std::string& path);
    // Ends the log line with `label` and the size, and shows the size.
    void reportSize(RunLog& log, std::string_view label, std::uint64_t size);

    ProgressPort& m_progress;
    FileSystemPort& m_fileSystem;
    TransferPort& m_transfer;
    ServiceHosts m_hosts;
    std::string m_logPath;
    RunTally m_tally;
};

} // namespace kqget
