#include "tests/faults/fault_test_fixture.h"

#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"
#include "tests/support/fake_ports.h"
#include "tests/support/scoped_environment.h"
#include "update/display_text.h"

#include <algorithm>
#include <chrono>

namespace kqget::testing {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

} // namespace

FileTree fileTree(const std::filesystem::path& root)
{
    FileTree tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.is_symlink()) {
            tree[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            tree[name] = readFile(entry.path());
        }
    }
    return tree;
}

void expectSameTree(const FileTree& actual, const FileTree& expected)
{
    for (const auto& [name, content] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) {
            ADD_FAILURE() << name << ": missing";
        } else if (found->second != content) {
            ADD_FAILURE() << name << ": " << found->second.size() << " bytes that differ from the "
                          << content.size() << " expected";
        }
    }
    for (const auto& [name, content] : actual) {
        if (!expected.contains(name)) {
            ADD_FAILURE() << name << ": unexpected, " << content.size() << " bytes";
        }
    }
}

// The log shows a control character in a name as \xHH.
ExpectedLog& ExpectedLog::card(std::string_view id)
{
    m_text.append(escapeControls(id)).append(kLineEnd);
    return *this;
}

ExpectedLog& ExpectedLog::xmlSize(std::string_view id, std::uint64_t size)
{
    m_text.append(escapeControls(m_dataFolder + std::string(id) + "/" + std::string(id)));
    m_text.append(".xml size ").append(std::to_string(size)).append(kLineEnd);
    return *this;
}

ExpectedLog& ExpectedLog::pngSize(std::string_view id, std::uint64_t size)
{
    m_text.append(escapeControls(m_dataFolder + std::string(id) + "/" + std::string(id)));
    m_text.append("_full.png size ").append(std::to_string(size)).append(kLineEnd);
    return *this;
}

ExpectedLog& ExpectedLog::fetched(std::string_view url, std::uint64_t newSize)
{
    m_text.append("Download File: ").append(escapeControls(url)).append(" New size ");
    m_text.append(std::to_string(newSize)).append(kLineEnd);
    return *this;
}

ExpectedLog& ExpectedLog::notStored(std::string_view url, std::string_view reason)
{
    m_text.append("Download File: ").append(escapeControls(url)).append(" Not stored: ");
    m_text.append(reason);
    m_text.append(kLineEnd);
    return *this;
}

ExpectedLog& ExpectedLog::storeFailed(std::string_view url, std::string_view message)
{
    // "kqget-cli: error N: description", the line ended or not.
    std::string_view reason = message.substr(message.find(": error ") + 2);
    reason = reason.substr(reason.find(": ") + 2);
    reason = reason.substr(0, reason.find('\n'));
    return notStored(url, reason);
}

bool FaultTest::fetchBegun(std::string_view match) const
{
    const auto requests = service->requests();
    return std::any_of(requests.begin(), requests.end(), [match](const ReceivedRequest& request) {
        return request.target.find(match) != std::string::npos;
    });
}

RunTally FaultTest::runCore(const RunInputs& inputs)
{
    LocalFileSystem fileSystem;
    return runCore(inputs, fileSystem);
}

RunTally FaultTest::runCore(const RunInputs& inputs, FileSystemPort& fileSystem)
{
    const NoProxyEnvironment noProxy;
    const ScopedEnvironment viaService("http_proxy", service->baseUrl());
    RecordingProgress progress;
    CurlTransfer transfer(transferOptions);
    CardUpdateRun run(progress, fileSystem, transfer, runOptions,
                      ServiceBases::configured().hosts(), (dir.path() / kRunLogFileName).string());
    return run.run(inputs);
}

FileTree FaultTest::resetLibrary()
{
    std::filesystem::remove_all(data());
    makeLibrary();
    service->clearFaults();
    return library();
}

void FaultTest::makeLibrary()
{
    dir.makeFolder("Data/A1");
    dir.write("Data/A2/A2.xml", "");
    dir.write("Data/A2/A2_full.png", kStubPng);
    dir.write("Data/B1/B1.xml", "<card/>");
    dir.write("Data/B1/B1_full.png", std::string(kMinimumIllustrationSize, 'p'));
}

ExpectedLog FaultTest::logUpToA2Illustration() const
{
    ExpectedLog log = expectedLog();
    log.card("A1")
        .xmlSize("A1", 0)
        .fetched(infoUrl("A1"), xmlOf("A1").size())
        .pngSize("A1", 0)
        .fetched(imageUrl("A1"), pngOf("A1").size())
        .card("A2")
        .xmlSize("A2", 0)
        .fetched(infoUrl("A2"), xmlOf("A2").size())
        .pngSize("A2", kStubPng.size());
    return log;
}

FileTree FaultTest::libraryUpToA2Illustration(FileTree before)
{
    before["A1/A1.xml"] = xmlOf("A1");
    before["A1/A1_full.png"] = pngOf("A1");
    before["A2/A2.xml"] = xmlOf("A2");
    return before;
}

} // namespace kqget::testing
