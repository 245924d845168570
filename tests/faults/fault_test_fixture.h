#pragma once

#include "platform/transfer_options.h"
#include "tests/cli/posix/cli_test_fixture.h"
#include "update/card_update_run.h"
#include "update/run_tally.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kqget::testing {

// Every regular file and link under a folder, by path relative to it: a link
// stands as "-> target", so that a test sees it was not followed or replaced.
using FileTree = std::map<std::string, std::string>;

FileTree fileTree(const std::filesystem::path& root);

// Fails with one line per path that differs, rather than printing binary files.
void expectSameTree(const FileTree& actual, const FileTree& expected);

// The run log as a test expects it, built in the order the run writes it.
class ExpectedLog
{
public:
    explicit ExpectedLog(std::string dataFolder) : m_dataFolder(std::move(dataFolder)) {}

    ExpectedLog& card(std::string_view id);
    ExpectedLog& xmlSize(std::string_view id, std::uint64_t size);
    ExpectedLog& pngSize(std::string_view id, std::uint64_t size);
    ExpectedLog& fetched(std::string_view url, std::uint64_t newSize);
    ExpectedLog& notStored(std::string_view url, std::string_view reason);
    // A fetch whose store failed and ended the run with `message`
    // ("kqget-cli: error N: description"): its line ends with the reason.
    ExpectedLog& storeFailed(std::string_view url, std::string_view message);

    const std::string& text() const noexcept { return m_text; }

private:
    std::string m_dataFolder; // ends in '/'
    std::string m_text;
};

// kqget-cli runs and core runs on the real adapters, against the stand-in
// service, with checks that nothing in the library was lost.
class FaultTest : public CliTest
{
protected:
    static constexpr std::string_view kKey = "KEY";
    static constexpr std::string_view kUser = "USER";
    // An illustration too small to keep: every run fetches it again.
    static constexpr std::string_view kStubPng = "old png";

    std::string dataFolder() const { return data() + "/"; }
    std::vector<std::string> cliArguments() const
    {
        return {"--key", std::string(kKey), "--user", std::string(kUser), "--data", data()};
    }
    ExpectedLog expectedLog() const { return ExpectedLog(dataFolder()); }
    FileTree library() const { return fileTree(data()); }

    static std::string xmlOf(std::string_view id)
    {
        return CardService::expectedXml(id, kKey, kUser);
    }
    static std::string pngOf(std::string_view id) { return CardService::expectedPng(id); }

    // Whether the service has received a request whose target contains `match`.
    bool fetchBegun(std::string_view match) const;

    // The core with the real transfer, `transferOptions`, `runOptions` and the
    // service as its proxy, on the real file system unless a test needs a fault the
    // machine cannot produce; the log goes where kqget-cli puts it.
    RunTally runCore(const RunInputs& inputs);
    RunTally runCore(const RunInputs& inputs, FileSystemPort& fileSystem);

    // A1 has no files; A2 an empty XML and a stub illustration; B1 is in
    // order. A run fetches A1's two files, then A2's, and leaves B1 alone.
    void makeLibrary();
    // Builds the library afresh for the next case of a table and clears the
    // service's faults; returns the library as built.
    FileTree resetLibrary();
    // The log of that library's run up to A2's illustration, the fetch at
    // which a test makes the service fail, and the library at that point.
    ExpectedLog logUpToA2Illustration() const;
    static FileTree libraryUpToA2Illustration(FileTree before);

    // Limits no reply of a sound service meets, however loaded the machine;
    // a test of the stall time-out sets its own.
    TransferOptions transferOptions{.connectTimeout = std::chrono::seconds(30),
                                    .stallTimeout = std::chrono::seconds(30)};
    RunOptions runOptions; // of runCore()
};

} // namespace kqget::testing
