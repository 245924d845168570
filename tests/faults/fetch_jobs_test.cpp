// Several fetches at once must not show: for each library, each way the
// service behaves and each change made to the library before a card's turn,
// runs with 1, 4 and 16 jobs leave the same log, the same card files, the same
// calls on the window, the same tally and the same failure. The same runs show
// that the jobs really overlap, never exceed their number, and that a
// rate-limited host is waited for and then given a smaller share.
#include "platform/posix/curl_transfer.h"
#include "platform/posix/local_file_system.h"
#include "tests/faults/fault_test_fixture.h"
#include "tests/support/fake_ports.h"
#include "tools/sample-library/sample_library.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <map>
#include <optional>

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

// The window's calls, and the two a progress line gets, less the count of
// fetches queued: how far the walk has run ahead is all that may differ.
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
    }
    void tallyChanged(const RunTally& tally) override
    {
        calls.push_back("tally " + std::to_string(tally.cardsChecked) + "/" +
                        std::to_string(tally.filesStored) + "/" +
                        std::to_string(tally.notStored.size()));
    }
    void fetchApplied(const FetchActivity& activity) override
    {
        calls.push_back("applied " + std::string(activity.cardId) + " " +
                        std::string(activity.path) + " " + std::to_string(activity.filesApplied) +
                        "/" + std::to_string(activity.filesTotal.value_or(0)));
    }

    std::function<void()> firstWait;
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
        }
    }

    RunRecord runWith(const JobsRow& row, std::size_t jobs)
    {
        makeLibrary(row.library);
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
        LocalFileSystem fileSystem;
        AppliedProgress progress;
        progress.firstWait = [this, &row] { change(row.meanwhile); };
        TimedTransfer transfer(stalls ? kStallingTransfer : kPatientTransfer);
        CardUpdateRun job(progress, fileSystem, transfer, {.jobs = jobs, .countFetchesFirst = true},
                          ServiceHosts::configured(), (dir.path() / kRunLogFileName).string());
        RunRecord run;
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
        run.log = log();
        run.library = library();
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
    // The others come, and wait on disk, while the first is held up.
    const Rule firstLate = onXml("A1", {.delay = 300ms});
    const std::string many = sample::cardId(kManyCards / 2);
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
