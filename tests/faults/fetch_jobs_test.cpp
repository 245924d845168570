// Several fetches at once must not show: for each library, each way the
// service behaves and each change made to the library before a card's turn,
// runs with 1, 4 and 16 jobs leave the same log, the same card files, the same
// calls on the window, the same tally and the same failure. The same runs show
// that the jobs really overlap, never exceed their number, and that a
// rate-limited host is waited for and then given a smaller share.
#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"
#include "platform/system_error_text.h"
#include "tests/faults/fault_test_fixture.h"
#include "tests/support/fake_ports.h"
#include "tools/sample-library/sample_library.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace kqget {
namespace {

using namespace std::chrono_literals;
using testing::CardService;
using testing::CardServiceOptions;
using testing::expectSameTree;
using testing::Fault;
using testing::FaultTest;
using testing::FileTree;
using testing::ReceivedRequest;
using Clock = std::chrono::steady_clock;

// Far over any wait a row makes (a reply held 500 ms, a Retry-After of 1 s),
// so that only the row of a stall meets its limit, however loaded the machine.
constexpr TransferOptions kPatientTransfer{.connectTimeout = 30s, .stallTimeout = 30s};
constexpr TransferOptions kStallingTransfer{.connectTimeout = 30s, .stallTimeout = 1s};
constexpr std::size_t kJobs[] = {1, 4, 16};
constexpr std::chrono::hours kForever{1}; // the service's waits end when it stops
constexpr std::size_t kManyCards = 24;
// Fetches that finish while the first card's reply is held, with as many jobs.
constexpr std::size_t kAheadOfHeld = 8;

std::string originOf(std::string_view url)
{
    return std::string(url.substr(0, url.find('/', url.find("//") + 2)));
}

// The real transfer, with when each fetch went out and came back on the
// run's clock, so that a test can check the waits the run kept.
class TimedTransfer final : public TransferPort
{
public:
    struct Event
    {
        bool started;
        std::string url;
        Clock::time_point at;
        // A reply's wait, when it asked for one the run keeps.
        std::optional<std::chrono::seconds> retryAfter{};
    };

    explicit TimedTransfer(const TransferOptions& options) : m_transfer(options) {}

    void start(FetchTicket ticket, std::string_view url, std::shared_ptr<BodySink> body) override
    {
        m_urls[ticket] = std::string(url);
        events.push_back({true, std::string(url), Clock::now()});
        m_transfer.start(ticket, url, std::move(body));
    }
    std::vector<FinishedFetch> waitForFinished(std::chrono::milliseconds timeout) override
    {
        std::vector<FinishedFetch> finished = m_transfer.waitForFinished(timeout);
        for (const FinishedFetch& fetch : finished) {
            const auto* reply = std::get_if<FetchResult>(&fetch.outcome);
            const bool rateLimit = reply != nullptr &&
                                   (reply->httpStatus == 429 || reply->httpStatus == 503) &&
                                   reply->retryAfter && *reply->retryAfter <= 60s;
            events.push_back({false, m_urls[fetch.ticket], Clock::now(),
                              rateLimit ? reply->retryAfter : std::nullopt});
        }
        return finished;
    }
    void abandonAll() noexcept override { m_transfer.abandonAll(); }

    std::vector<Event> events;

private:
    CurlTransfer m_transfer;
    std::map<FetchTicket, std::string> m_urls;
};

// What the run reported, the counts a progress line gets included, less the
// count of fetches queued: how far the walk has run ahead is all that may differ.
class AppliedProgress final : public testing::RecordingProgress
{
public:
    // The first wait is for the first fetch, at any number of jobs: before
    // the turn of every later card, and after the plan with more than one.
    void whileWaiting() override
    {
        if (firstWait) {
            std::exchange(firstWait, nullptr)();
        }
        if (eachWait) {
            eachWait();
        }
    }
    void tallyChanged(const RunTally& tally) override
    {
        calls.push_back("tally " + std::to_string(tally.cardsChecked) + "/" +
                        std::to_string(tally.filesStored) + "/" +
                        std::to_string(tally.notStored.size()));
    }
    void fetchApplied(const FetchActivity& activity) override
    {
        calls.push_back("applied " + std::string(activity.path) + " " +
                        std::to_string(activity.filesApplied) + "/" +
                        std::to_string(activity.filesTotal.value_or(0)));
    }

    std::function<void()> firstWait;
    std::function<void()> eachWait;
};

// The real file system with less of it: a disk that holds `capacity` bytes of
// what the run writes, and `handles` files open for writing at once. Past
// either, a store fails as the system's would (ENOSPC, EMFILE).
class ScarceFileSystem final : public FileSystemPort
{
public:
    std::size_t capacity = SIZE_MAX;
    std::size_t handles = SIZE_MAX;

    CardEntries searchCardEntries(std::string_view folder, char letter) override
    {
        return m_real.searchCardEntries(folder, letter);
    }
    bool isDirectory(std::string_view path) override { return m_real.isDirectory(path); }
    std::unique_ptr<RunLock> lockRun(std::string_view logPath, std::string_view folder) override
    {
        return m_real.lockRun(logPath, folder);
    }
    FileStamp fileStamp(std::string_view path) noexcept override { return m_real.fileStamp(path); }
    std::unique_ptr<StagedFile> stageFile(std::string_view path) override
    {
        class Scarce final : public StagedFile
        {
        public:
            Scarce(ScarceFileSystem& owner, std::string_view path)
                : m_owner(owner), m_path(path), m_real(owner.m_real.stageFile(path))
            {
                if (++m_owner.m_open > m_owner.handles) {
                    --m_owner.m_open;
                    fail("cannot create a temporary file beside it", EMFILE);
                }
                m_holding = true;
            }
            ~Scarce() override
            {
                release();
                if (!m_committed) {
                    m_owner.m_used -= m_bytes;
                }
            }
            void write(std::string_view bytes) override
            {
                if (m_owner.m_used.fetch_add(bytes.size()) + bytes.size() > m_owner.capacity) {
                    m_owner.m_used -= bytes.size();
                    fail("cannot write", ENOSPC);
                }
                m_bytes += bytes.size();
                m_real->write(bytes);
            }
            void close() override
            {
                release();
                m_real->close();
            }
            void commit() override
            {
                release();
                m_real->commit();
                m_committed = true;
            }
            std::string temporaryPath() const override { return m_real->temporaryPath(); }

        private:
            void release()
            {
                if (std::exchange(m_holding, false)) {
                    --m_owner.m_open;
                }
            }
            [[noreturn]] void fail(std::string_view what, int error)
            {
                throw RunError(ErrorNumber::CardFile, "cannot store '" + m_path +
                                                          "': " + std::string(what) + ": " +
                                                          systemErrorText(error));
            }
            ScarceFileSystem& m_owner;
            std::string m_path;
            std::unique_ptr<StagedFile> m_real;
            std::size_t m_bytes = 0;
            bool m_holding = false;
            bool m_committed = false;
        };
        return std::make_unique<Scarce>(*this, path);
    }
    std::unique_ptr<LogFile> createLog(std::string_view path) override
    {
        return m_real.createLog(path);
    }
    char separatorFor(std::string_view folder) const noexcept override
    {
        return m_real.separatorFor(folder);
    }

private:
    LocalFileSystem m_real;
    std::atomic<std::size_t> m_used{0};
    std::atomic<std::size_t> m_open{0};
};

enum class Library
{
    Mixed,  // A to D: missing, empty and good XML; absent, stub and good illustrations
    Many,   // kManyCards cards whose illustrations are all absent
    Linked, // Mixed, and B3 whose files are links to A1's, which the run fetches
};

// What another program does to the library while the first reply is awaited.
enum class Change
{
    None,
    PngCompleted, // D1's stub illustration grows to 30000 bytes
    XmlEmptied,   // A3's good XML becomes empty
    FolderGone,   // C1, with two fetches planned, is deleted
    FolderAdded,  // D3, with no files, appears
    Leftovers,    // before the run, a killed run's temporary files lie in the data folder
    FolderRemade, // C2 is deleted and made again as it was
    HiddenGone,   // a cleaning tool deletes every hidden file in the card folders
    DataMoved,    // the data folder is renamed away
    FileIsFolder, // a folder takes the place of D2's missing illustration
};

// What a killed run leaves: files of the temporary form in the data folder,
// which go, and names that only look like it, which stay.
const std::vector<std::pair<std::string, bool>> kLeftovers = {
    {".kqget-Ab3dE9fGh1Jk.tmp", true},     {".kqget-zzzzzzzzzzzz.tmp", true},
    {".kqget-Ab3dE9fGh1J.tmp", false},     // one character short
    {".kqget-Ab3dE9fGh1Jk.tmp~", false},   // one too many
    {"kqget-Ab3dE9fGh1Jk.tmp", false},     // not hidden
    {"C1/.kqget-Ab3dE9fGh1Jk.tmp", false}, // not where a run leaves them
};

struct Rule
{
    std::string match;
    Fault fault;
};

Rule onXml(std::string_view card, Fault fault)
{
    return {"cardids=" + std::string(card) + "&", fault};
}

Rule onPng(std::string_view card, Fault fault)
{
    return {"/" + std::string(card) + "/illustrations", fault};
}

// One row of the table: a library, how the service behaves and what changes
// meanwhile; each row runs with every number of jobs in kJobs.
struct JobsRow
{
    std::string name;
    Library library;
    std::vector<Rule> rules;
    std::string ending; // how every run ends, from the start; paths from the test's folder
    // How often the service was asked for targets containing the text.
    std::vector<std::pair<std::string, std::size_t>> requests;
    std::chrono::milliseconds latency{0}; // added to every reply
    Change meanwhile = Change::None;
    // The service answers nothing until every job has a request open, so the
    // run must keep them all under way at once.
    bool everyJobAtOnce = false;
    std::size_t capacity = SIZE_MAX; // bytes the disk holds of what the run writes
    std::size_t handles = SIZE_MAX;  // files open for writing at once
};

void PrintTo(const JobsRow& row, std::ostream* out)
{
    *out << row.name;
}

// "429 and 503 with Retry-After 1, once" reads 429And503WithRetryAfter1Once.
std::string caseName(std::string_view text)
{
    std::string name;
    bool wordStart = true;
    for (const char c : text) {
        if (c == '\'') {
            continue; // "card's" is one word
        }
        const bool alphanumeric = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (alphanumeric) {
            name += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        }
        wordStart = !alphanumeric;
    }
    return name;
}

struct RunRecord
{
    std::string log;
    FileTree library;
    std::vector<std::string> calls;
    std::string ending; // the tally, or the failure that ended the run
    std::vector<TimedTransfer::Event> transfers;
    std::size_t mostAtOnce = 0;
    std::vector<ReceivedRequest> requests;
    std::optional<std::size_t> bodiesAhead; // fetches finished while the first was held
};

class FetchJobsTest : public FaultTest,
                      public ::testing::WithParamInterface<std::tuple<JobsRow, std::size_t>>
{
public:
    static std::vector<JobsRow> rows();

protected:
    void makeLibrary(Library library)
    {
        std::filesystem::remove_all(data());
        const std::string whole(kMinimumIllustrationSize, 'p');
        const auto card = [&](const std::string& id, std::optional<std::string> xml,
                              std::optional<std::string> png) {
            dir.makeFolder("Data/" + id);
            if (xml) {
                dir.write("Data/" + id + "/" + id + ".xml", *xml);
            }
            if (png) {
                dir.write("Data/" + id + "/" + id + "_full.png", *png);
            }
        };
        if (library == Library::Many) {
            for (std::uint64_t i = 0; i < kManyCards; ++i) {
                card(sample::cardId(i), "<card/>", std::nullopt);
            }
            return;
        }
        if (library == Library::Linked) {
            dir.makeFolder("Data/B3");
            std::filesystem::create_symlink("../A1/A1.xml", data() + "/B3/B3.xml");
            std::filesystem::create_symlink("../A1/A1_full.png", data() + "/B3/B3_full.png");
        }
        // Fetched in this order: A1 x p, A2 x p, B1 p, B2 x, C1 x p, C2 x p, D1 p, D2 x p.
        card("A1", std::nullopt, std::nullopt);
        card("A2", "", std::string(kStubPng));
        card("A3", "<card/>", whole);
        card("B1", "<card/>", std::nullopt);
        card("B2", std::nullopt, whole);
        card("C1", "", "x");
        card("C2", std::nullopt, std::string(kMinimumIllustrationSize - 1, 'p'));
        card("D1", "<card/>", std::string(kStubPng));
        card("D2", std::nullopt, std::nullopt);
    }

    void change(Change what)
    {
        switch (what) {
        case Change::None:
            break;
        case Change::PngCompleted:
            dir.write("Data/D1/D1_full.png", std::string(30000, 'c'));
            break;
        case Change::XmlEmptied:
            dir.write("Data/A3/A3.xml", "");
            break;
        case Change::FolderGone:
            std::filesystem::remove_all(data() + "/C1");
            break;
        case Change::FolderAdded:
            dir.makeFolder("Data/D3");
            break;
        case Change::Leftovers: // made before the run
            break;
        case Change::FolderRemade:
            std::filesystem::remove_all(data() + "/C2");
            dir.write("Data/C2/C2_full.png", std::string(kMinimumIllustrationSize - 1, 'p'));
            break;
        case Change::HiddenGone:
            for (const auto& entry : std::filesystem::recursive_directory_iterator(data())) {
                if (entry.path().filename().string().starts_with(".")) {
                    std::filesystem::remove(entry.path());
                }
            }
            break;
        case Change::DataMoved:
            std::filesystem::rename(data(), dir.path() / "Moved");
            break;
        case Change::FileIsFolder:
            dir.makeFolder("Data/D2/D2_full.png");
            break;
        }
    }

    void leaveLeftovers()
    {
        for (const auto& [path, goes] : kLeftovers) {
            dir.write("Data/" + path, "left");
        }
        // A link of that form is never followed nor removed.
        std::filesystem::create_symlink("A3/A3.xml", data() + "/.kqget-LinkLinkLink.tmp");
    }

    // The library, wherever it went.
    FileTree libraryAnywhere()
    {
        FileTree tree;
        if (std::filesystem::exists(data())) {
            tree = library();
        }
        if (std::filesystem::exists(dir.path() / "Moved")) {
            for (auto& [path, content] : testing::fileTree(dir.path() / "Moved")) {
                tree["moved/" + path] = std::move(content);
            }
        }
        return tree;
    }

    RunRecord runWith(const JobsRow& row, std::size_t jobs)
    {
        std::filesystem::remove_all(dir.path() / "Moved");
        makeLibrary(row.library);
        if (row.meanwhile == Change::Leftovers) {
            leaveLeftovers();
        }
        // A service of its own for each run: a stalled reply holds one of its
        // threads until it stops, and its counts start from nothing.
        CardServiceOptions options;
        options.latency = row.latency;
        service = std::make_unique<CardService>(options);
        for (const Rule& rule : row.rules) {
            service->addFault(rule.match, rule.fault);
        }
        if (row.everyJobAtOnce) {
            service->holdUntilAtOnce(jobs);
        }
        const bool stalls = std::ranges::any_of(
            row.rules, [](const Rule& rule) { return rule.fault.stallAfterHeaders > 0ms; });
        const testing::NoProxyEnvironment noProxy;
        const testing::ScopedEnvironment viaService("http_proxy", service->baseUrl());
        ScarceFileSystem fileSystem;
        fileSystem.capacity = row.capacity;
        fileSystem.handles = row.handles;
        TimedTransfer transfer(stalls ? kStallingTransfer : kPatientTransfer);
        // A first reply held is let go once later bodies have come, and
        // while it is held nothing of the run is in the library.
        const bool holdsFirst = std::ranges::any_of(
            row.rules, [](const Rule& rule) { return rule.fault.heldUntilReleased; });
        RunRecord run;
        FileTree whileHeld;
        AppliedProgress progress;
        progress.firstWait = [&] {
            change(row.meanwhile);
            whileHeld = libraryAnywhere();
        };
        progress.eachWait = [&] {
            const auto finished = static_cast<std::size_t>(std::ranges::count_if(
                transfer.events, [](const TimedTransfer::Event& event) { return !event.started; }));
            if (holdsFirst && !run.bodiesAhead && finished + 1 >= std::min(jobs, kAheadOfHeld)) {
                expectSameTree(libraryAnywhere(), whileHeld);
                run.bodiesAhead = finished;
                service->releaseHeld();
            }
        };
        CardUpdateRun job(progress, fileSystem, transfer, {.jobs = jobs, .countFetchesFirst = true},
                          ServiceBases::configured().hosts(),
                          (dir.path() / kRunLogFileName).string());
        try {
            const RunTally tally = job.run({"KEY", "USER", data()});
            run.ending = "cards " + std::to_string(tally.cardsChecked) + ", stored " +
                         std::to_string(tally.filesStored) + ", still too small " +
                         std::to_string(tally.stillTooSmall.size()) + ", not stored:";
            for (const NotStoredFile& file : tally.notStored) {
                run.ending +=
                    " " + file.url + " " +
                    std::filesystem::path(file.path).lexically_relative(dir.path()).string() +
                    " (" + file.reason + ")";
            }
        } catch (const RunError& error) {
            run.ending = "error " + std::to_string(error.code()) + ": " + error.what();
        }
        // Paths from the test's folder, as the rows give them.
        const std::string folder = dir.path().string() + "/";
        for (std::size_t at; (at = run.ending.find(folder)) != std::string::npos;) {
            run.ending.erase(at, folder.size());
        }
        run.log = log();
        run.library = libraryAnywhere();
        run.calls = std::move(progress.calls);
        run.transfers = std::move(transfer.events);
        run.mostAtOnce = service->mostAtOnce();
        run.requests = service->requests();
        return run;
    }
};

std::vector<JobsRow> FetchJobsTest::rows()
{
    const Fault drop{.dropMidBody = true};
    // The others come, and wait in memory, while the first is held up.
    const Rule firstLate = onXml("A1", {.heldUntilReleased = true});
    const std::string many = sample::cardId(kManyCards / 2);
    // What the run of one job stores of the mixed library, all of it kept.
    std::size_t mixedBytes = 0;
    for (const char* id : {"A1", "A2", "B2", "C1", "C2", "D2"}) {
        mixedBytes += xmlOf(id).size();
    }
    for (const char* id : {"A1", "A2", "B1", "C1", "C2", "D1", "D2"}) {
        mixedBytes += pngOf(id).size();
    }
    return {
        {"all good", Library::Mixed, {}, "cards 9, stored 13, still too small 0, not stored:", {}},
        {"all good, 100 ms per reply, every job under way at once",
         Library::Many,
         {},
         "cards 24, stored 24, still too small 0, not stored:",
         {},
         100ms,
         Change::None,
         true},
        {"404s and a body over the cap",
         Library::Mixed,
         {onPng("A2", {.status = 404}), onXml("B2", {.status = 404}),
          onPng("C1", {.oversizedBody = true})},
         "cards 9, stored 10, still too small 0, not stored: " + imageUrl("A2") +
             " Data/A2/A2_full.png (HTTP 404) " + shownInfoUrl("B2") +
             " Data/B2/B2.xml (HTTP 404) " + imageUrl("C1") +
             " Data/C1/C1_full.png (response over 64 MiB)",
         {}},
        {"dropped at the first fetch",
         Library::Mixed,
         {onXml("A1", drop)},
         "error 40: cannot fetch " + shownInfoUrl("A1") + ": curl error 18: ",
         {}},
        {"dropped at a middle fetch",
         Library::Mixed,
         {onXml("C1", drop)},
         "error 40: cannot fetch " + shownInfoUrl("C1") + ": curl error 18: ",
         {}},
        {"dropped at the last fetch",
         Library::Mixed,
         {onPng("D2", drop)},
         "error 40: cannot fetch " + imageUrl("D2") + ": curl error 18: ",
         {}},
        {"dropped halfway through many",
         Library::Many,
         {onPng(many, drop)},
         "error 40: cannot fetch " + imageUrl(many) + ": curl error 18: ",
         {}},
        {"a stall",
         Library::Mixed,
         {onPng("B1", {.stallAfterHeaders = kForever})},
         "error 41: cannot fetch " + imageUrl("B1") + ": no data received for 1000 ms",
         {}},
        {"429 and 503 with Retry-After 1, once",
         Library::Mixed,
         {onPng("A2", {.status = 429, .retryAfter = "1", .times = 1}),
          onXml("C2", {.status = 503, .retryAfter = "1", .times = 1})},
         "cards 9, stored 13, still too small 0, not stored:",
         {{"/A2/illustrations", 2}, {"cardids=C2&", 2}}},
        {"429 without Retry-After, 503 past 60 s, 429 every time",
         Library::Mixed,
         {onPng("A2", {.status = 429}), onXml("B2", {.status = 503, .retryAfter = "61"}),
          onPng("D1", {.status = 429, .retryAfter = "0"})},
         "cards 9, stored 10, still too small 0, not stored: " + imageUrl("A2") +
             " Data/A2/A2_full.png (HTTP 429) " + shownInfoUrl("B2") +
             " Data/B2/B2.xml (HTTP 503) " + imageUrl("D1") + " Data/D1/D1_full.png (HTTP 429)",
         {{"/A2/illustrations", 1}, {"cardids=B2&", 1}, {"/D1/illustrations", 4}}},
        {"a middle reply late",
         Library::Mixed,
         {onPng("C1", {.delay = 500ms})},
         "cards 9, stored 13, still too small 0, not stored:",
         {}},
        // Changes before a card's turn count, however early its fetch came.
        {"a PNG completed meanwhile is kept",
         Library::Mixed,
         {firstLate},
         "cards 9, stored 12, still too small 0, not stored:",
         {},
         0ms,
         Change::PngCompleted},
        {"an XML emptied meanwhile is fetched",
         Library::Mixed,
         {firstLate},
         "cards 9, stored 14, still too small 0, not stored:",
         {{"cardids=A3&", 1}},
         0ms,
         Change::XmlEmptied},
        {"a folder deleted meanwhile is passed over",
         Library::Mixed,
         {firstLate},
         "cards 8, stored 11, still too small 0, not stored:",
         {},
         0ms,
         Change::FolderGone},
        {"a folder created meanwhile in a later letter is visited",
         Library::Mixed,
         {firstLate},
         "cards 10, stored 15, still too small 0, not stored:",
         {{"cardids=D3&", 1}, {"/D3/illustrations", 1}},
         0ms,
         Change::FolderAdded},
        // However short the disk or the handles, or however the library
        // changes under the bodies waiting for their turn.
        {"a disk with room for the run of one job only",
         Library::Mixed,
         {firstLate},
         "cards 9, stored 13, still too small 0, not stored:",
         {},
         0ms,
         Change::None,
         false,
         mixedBytes},
        {"one file open for writing at a time",
         Library::Mixed,
         {firstLate},
         "cards 9, stored 13, still too small 0, not stored:",
         {},
         0ms,
         Change::None,
         false,
         SIZE_MAX,
         1},
        {"leftovers of a killed run are swept as the run begins",
         Library::Mixed,
         {firstLate},
         "cards 9, stored 13, still too small 0, not stored:",
         {},
         0ms,
         Change::Leftovers},
        {"a folder made again meanwhile",
         Library::Mixed,
         {firstLate},
         "cards 9, stored 13, still too small 0, not stored:",
         {},
         0ms,
         Change::FolderRemade},
        {"hidden files deleted meanwhile",
         Library::Mixed,
         {firstLate},
         "cards 9, stored 13, still too small 0, not stored:",
         {},
         0ms,
         Change::HiddenGone},
        {"the data folder moved away meanwhile",
         Library::Mixed,
         {firstLate},
         "error 10: data folder 'Data/' is gone: cannot store 'Data/A1/A1.xml': ",
         {},
         0ms,
         Change::DataMoved},
        {"a card file whose place a folder took meanwhile is that card's alone",
         Library::Mixed,
         {firstLate},
         "cards 9, stored 12, still too small 0, not stored: " + imageUrl("D2") +
             " Data/D2/D2_full.png (cannot store 'Data/D2/D2_full.png': cannot rename its "
             "temporary "
             "file over it: Is a directory)",
         {},
         0ms,
         Change::FileIsFolder},
        {"links to files an earlier card's fetch completes are kept",
         Library::Linked,
         {firstLate},
         "cards 10, stored 13, still too small 0, not stored:",
         {}},
    };
}

TEST_P(FetchJobsTest, AnyNumberOfJobsGivesTheRunOfOneJob)
{
    const auto& [row, jobs] = GetParam();
    const RunRecord run = runWith(row, jobs);

    // No temporary file is left behind, wherever the library went; what only
    // looks like a leftover stays.
    std::set<std::string> staying;
    if (row.meanwhile == Change::Leftovers) {
        staying.insert(".kqget-LinkLinkLink.tmp");
        for (const auto& [path, goes] : kLeftovers) {
            if (!goes) {
                staying.insert(path);
            }
        }
    }
    for (const auto& [path, content] : run.library) {
        if (path.find("kqget-") != std::string::npos) {
            EXPECT_TRUE(staying.erase(path)) << path << " left behind";
        }
    }
    EXPECT_THAT(staying, ::testing::IsEmpty()) << "removed though not a leftover";
    // The held first reply was let go only once later bodies had come.
    if (std::ranges::any_of(row.rules,
                            [](const Rule& rule) { return rule.fault.heldUntilReleased; })) {
        ASSERT_TRUE(run.bodiesAhead.has_value());
        EXPECT_GE(*run.bodiesAhead, std::min<std::size_t>(jobs, kAheadOfHeld) - 1);
    }

    EXPECT_THAT(run.ending, ::testing::StartsWith(row.ending));
    for (const auto& [match, count] : row.requests) {
        EXPECT_EQ(std::ranges::count_if(run.requests,
                                        [&](const ReceivedRequest& request) {
                                            return request.target.find(match) != std::string::npos;
                                        }),
                  count)
            << match;
    }
    // Never more at once than the jobs; every one of them when the row asks.
    EXPECT_LE(run.mostAtOnce, jobs);
    if (row.everyJobAtOnce) {
        EXPECT_EQ(run.mostAtOnce, jobs);
    }

    // A host that asked for a wait gets nothing until it is over, and
    // from then on half its share, which grows back by at most one a reply.
    std::map<std::string, std::size_t> inFlight;
    std::map<std::string, std::size_t> share;
    std::map<std::string, Clock::time_point> quietUntil;
    std::size_t allInFlight = 0;
    for (const TimedTransfer::Event& event : run.transfers) {
        const std::string origin = originOf(event.url);
        share.try_emplace(origin, jobs);
        if (!event.started) {
            --inFlight[origin];
            --allInFlight;
            if (event.retryAfter) {
                quietUntil[origin] = event.at + *event.retryAfter;
                share[origin] = std::max<std::size_t>(share[origin] / 2, 1);
            } else {
                share[origin] = std::min(share[origin] + 1, jobs);
            }
            continue;
        }
        ++allInFlight;
        EXPECT_LE(allInFlight, jobs);
        ++inFlight[origin];
        EXPECT_LE(inFlight[origin], share[origin]) << event.url;
        if (const auto quiet = quietUntil.find(origin); quiet != quietUntil.end()) {
            EXPECT_GE(event.at, quiet->second) << event.url << " went out during a wait";
        }
    }

    if (jobs == 1) {
        return;
    }
    const RunRecord oneJob = runWith(row, 1);
    EXPECT_EQ(run.ending, oneJob.ending);
    EXPECT_EQ(run.log, oneJob.log);
    expectSameTree(run.library, oneJob.library);
    EXPECT_EQ(run.calls, oneJob.calls);
}

INSTANTIATE_TEST_SUITE_P(Rows, FetchJobsTest,
                         ::testing::Combine(::testing::ValuesIn(FetchJobsTest::rows()),
                                            ::testing::ValuesIn(kJobs)),
                         [](const auto& info) {
                             return caseName(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param)) + "Jobs";
                         });

} // namespace
} // namespace kqget
