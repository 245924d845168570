#pragma once

// In-memory stand-ins for the run's ports, for tests of the run's own logic.
// Tests of the adapters use real folders and a real local server instead.

#include "update/file_system_port.h"
#include "update/progress_port.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kqget::testing {

// Records what the run reported, one text a call, e.g. "sized /data/A1/A1.xml 12".
class RecordingProgress : public ProgressPort
{
public:
    void runStarted() override { record("started"); }
    void dataFolderNormalised(std::string_view dataFolder) override
    {
        record("dataFolder " + std::string(dataFolder));
    }
    void fileSized(std::string_view path, std::string_view sizeText) override
    {
        record("sized " + std::string(path) + " " + std::string(sizeText));
    }
    void fetchApplied(const FetchActivity& activity) override
    {
        record("applied " + std::string(activity.url));
    }
    void runEnded(const RunTally& tally) override { record(tally.stopped ? "stopped" : "ended"); }
    bool stopRequested() override { return stop; }

    std::vector<std::string> calls;
    std::function<void()> onCall; // after each call recorded
    bool stop = false;

protected:
    void record(std::string text)
    {
        calls.push_back(std::move(text));
        if (onCall) {
            onCall();
        }
    }
};

// A log that keeps what was written in memory.
class MemoryLogFile : public LogFile
{
public:
    explicit MemoryLogFile(std::string& text, bool& closed) : m_text(text), m_closed(closed) {}
    ~MemoryLogFile() override { m_closed = true; }
    void write(std::string_view text) override { m_text.append(text); }
    void flush() override {}
    void close() override { m_closed = true; }

private:
    std::string& m_text;
    bool& m_closed;
};

// A folder tree with '/' separators: folders and files with their contents.
class MemoryFileSystem : public FileSystemPort
{
    class MemoryStagedFile final : public StagedFile
    {
    public:
        MemoryStagedFile(MemoryFileSystem& files, std::string path)
            : m_files(files), m_path(std::move(path))
        {}
        void write(std::string_view bytes) override { m_content.append(bytes); }
        void close() override {}
        // Nothing here is on disk; the content checks look only into real files.
        std::string temporaryPath() const override { return {}; }
        void commit() override
        {
            if (m_files.failReplace) {
                throw RunError(ErrorNumber::CardFile, "cannot store '" + m_path + "'");
            }
            m_files.files[m_path] = std::move(m_content);
        }

    private:
        MemoryFileSystem& m_files;
        std::string m_path;
        std::string m_content;
    };

public:
    void addFolder(const std::string& path) { folders.insert(path); }
    void addFile(const std::string& path, std::string content) { files[path] = std::move(content); }

    CardEntries searchCardEntries(std::string_view dataFolder, char letter) override
    {
        ++listings;
        if (!folders.contains(std::string(dataFolder))) {
            throw RunError(ErrorNumber::DataFolder, "no folder " + std::string(dataFolder));
        }
        std::vector<std::pair<std::string, EntryType>> names;
        const auto collect = [&](const std::string& path, EntryType type) {
            if (path.size() > dataFolder.size() && path.starts_with(dataFolder)) {
                const std::string name = path.substr(dataFolder.size());
                if (name.find('/') == std::string::npos && name.size() <= 5 &&
                    (name[0] == letter || name[0] == letter + ('a' - 'A'))) {
                    names.emplace_back(name, type);
                }
            }
        };
        for (const auto& folder : folders) {
            collect(folder, EntryType::Folder);
        }
        for (const auto& [path, content] : files) {
            collect(path, EntryType::Other);
        }
        std::sort(names.begin(), names.end());
        CardEntries entries;
        for (const auto& [name, type] : names) {
            entries.add(name, type);
        }
        return entries;
    }
    bool isDirectory(std::string_view path) override { return folders.contains(std::string(path)); }
    FileStamp fileStamp(std::string_view path) noexcept override
    {
        ++sizeQueries;
        const auto found = files.find(std::string(path));
        return {found == files.end() ? 0 : found->second.size(), changed};
    }
    std::unique_ptr<StagedFile> stageFile(std::string_view path) override
    {
        return std::make_unique<MemoryStagedFile>(*this, std::string(path));
    }
    std::unique_ptr<LogFile> createLog(std::string_view path) override
    {
        logPath = path;
        log.clear();
        logClosed = false;
        return std::make_unique<MemoryLogFile>(log, logClosed);
    }
    char separatorFor(std::string_view) const noexcept override { return '/'; }

    std::set<std::string> folders;
    std::map<std::string, std::string> files;
    bool failReplace = false;
    std::int64_t changed = 0; // every file's change time
    std::size_t listings = 0;
    std::size_t sizeQueries = 0;
    std::string logPath;
    std::string log;
    bool logClosed = false;
};

// A reply a test scripts for one URL.
struct ScriptedReply
{
    long httpStatus = 200;
    std::string body;
    bool overSizeCap = false;
};

// The body a scripted transfer answers `url` with: one that names it and
// begins as a card file of its kind does.
inline std::string scriptedBody(std::string_view url)
{
    return (url.ends_with(".png") ? std::string("\x89PNG\r\n\x1a\n") : std::string("<")) +
           "body of " + std::string(url);
}

// Answers every URL with a body that names it, unless told otherwise. Fetches
// finish in the reverse of the order they were started, the order a run must
// never show.
class ScriptedTransfer : public TransferPort
{
public:
    void start(FetchTicket ticket, std::string_view url, std::shared_ptr<BodySink> body) override
    {
        requested.emplace_back(url);
        const auto found = replies.find(std::string(url));
        if (found == replies.end() && failAll) {
            m_finished.push_back({ticket, FetchFailure{ErrorNumber::Transfer, "unreachable"}});
            return;
        }
        const ScriptedReply reply =
            found != replies.end() ? found->second : ScriptedReply{200, scriptedBody(url)};
        if (!body->begin(reply.httpStatus, reply.body.size()) || !body->write(reply.body)) {
            m_finished.push_back({ticket, FetchFailure{ErrorNumber::Transfer, "not kept"}});
            return;
        }
        m_finished.push_back({ticket, FetchResult{reply.httpStatus, reply.overSizeCap}});
    }
    std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds) override
    {
        std::vector<FinishedFetch> finished(m_finished.rbegin(), m_finished.rend());
        m_finished.clear();
        return finished;
    }
    void abandonAll() noexcept override { m_finished.clear(); }

    std::map<std::string, ScriptedReply> replies;
    std::vector<std::string> requested;
    bool failAll = false;

private:
    std::vector<FinishedFetch> m_finished;
};

} // namespace kqget::testing
