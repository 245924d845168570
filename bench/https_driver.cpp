// Runs one repair through the libcurl transfer, trusting a CA of its own
// rather than the system's, so that bench/run.py can time kqget over HTTPS
// against curl behind a server with a throw-away certificate.
//
//   kqget-bench-https CA_PEM BASE JOBS DATA
//
// BASE serves both service paths. Exits 0 when every file was stored, 1 when
// some was not, 2 when a failure ended the run, 64 on bad usage.

#include "cli/terminal_progress.h"
#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"
#include "update/card_update_run.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    using namespace kqget;
    if (argc != 5) {
        std::fprintf(stderr, "usage: kqget-bench-https CA_PEM BASE JOBS DATA\n");
        return 64;
    }
    TransferOptions options;
    options.caBundlePath = argv[1];
    CurlTransfer transfer(options);
    LocalFileSystem fileSystem;
    TerminalProgress progress(nullptr, {}); // no progress line
    RunOptions runOptions;
    runOptions.jobs = std::stoul(argv[3]);
    CardUpdateRun run(progress, fileSystem, transfer, runOptions, ServiceHosts{argv[2], argv[2]});
    try {
        const RunTally tally = run.run({"BENCHKEY", "bench", argv[4]});
        return tally.notStored.empty() ? 0 : 1;
    } catch (const RunError& error) {
        std::fprintf(stderr, "kqget-bench-https: error %d: %s\n", error.code(), error.what());
        return 2;
    }
}
