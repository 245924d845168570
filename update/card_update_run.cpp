#include "update/card_update_run.h"

#include "update/fetch_scheduler.h"
#include "update/run_log.h"
#include "update/size_text.h"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <utility>

namespace kqget {

namespace {

// How long the run waits for a fetch before it lets the window breathe and
// asks whether to stop.
constexpr std::chrono::milliseconds kWaitSlice{50};
// Card folders decided on ahead of the one being applied. Enough to keep the
// fetches busy through a stretch of cards in order; small enough that a stalled
// fetch cannot make the walk hold a large library in memory.
constexpr std::size_t kCardsAhead = 256;

bool isSuccess(long status)
{
    return status >= 200 && status <= 299;
}

// Whatever way the run ends, no fetch is left under way behind it.
class AbandonOnExit
{
public:
    explicit AbandonOnExit(TransferPort& transfer) : m_transfer(transfer) {}
    ~AbandonOnExit() { m_transfer.abandonAll(); }
    AbandonOnExit(const AbandonOnExit&) = delete;
    AbandonOnExit& operator=(const AbandonOnExit&) = delete;

private:
    TransferPort& m_transfer;
};

} // namespace

// One run's working state, from the log's creation to its close.
class CardUpdateRun::Session
{
public:
    Session(CardUpdateRun& run, RunLog& log, const CardLocations& cards, CardWalk& walk)
        : m_run(run), m_log(log), m_cards(cards), m_walk(walk), m_scheduler(run.m_options.jobs),
          // One job walks no further than the card it works on, as the walk
          // always did when each fetch waited for the one before.
          m_cardsAhead(run.m_options.jobs == 1 ? 0 : kCardsAhead)
    {}

    // A first pass over the library, so that a progress line can tell how much
    // is left. A failure here is left for the run itself to meet.
    void countFetches(CardWalk& walk)
    {
        try {
            walk.begin();
        } catch (const RunError&) {
            return;
        }
        std::size_t total = 0;
        while (auto item = walk.next()) {
            const auto* plan = std::get_if<CardPlan>(&*item);
            if (plan == nullptr) {
                return; // the run itself will meet the failure; no estimate then
            }
            total += (plan->xml.fetch ? 1 : 0) + (plan->illustration.fetch ? 1 : 0);
        }
        m_filesTotal = total;
    }

    RunTally run()
    {
        while (auto item = nextItem()) {
            if (const auto* failure = std::get_if<RunError>(&*item)) {
                throw *failure;
            }
            if (m_run.m_progress.stopRequested()) {
                m_tally.stopped = true;
                break;
            }
            updateCard(std::get<CardPlan>(*item));
            if (m_tally.stopped) {
                break;
            }
            m_run.m_progress.processPendingEvents();
        }
        return std::move(m_tally);
    }

private:
    std::optional<WalkItem> nextItem()
    {
        walkAhead(std::max<std::size_t>(m_cardsAhead, 1));
        if (m_ahead.empty()) {
            return std::nullopt;
        }
        WalkItem item = std::move(m_ahead.front());
        m_ahead.pop_front();
        return item;
    }

    // Decides on up to `cards` cards ahead and sends out what their fetches allow.
    void walkAhead(std::size_t cards)
    {
        while (!m_walkOver && m_ahead.size() < cards &&
               m_scheduler.notStarted() < m_run.m_options.jobs) {
            std::optional<WalkItem> item = m_walk.next();
            if (!item) {
                m_walkOver = true;
                break;
            }
            if (const auto* plan = std::get_if<CardPlan>(&*item)) {
                if (plan->xml.fetch) {
                    schedule(*plan->xml.fetch, m_cards.infoUrl(plan->cardId), m_cards.infoOrigin());
                }
                if (plan->illustration.fetch) {
                    schedule(*plan->illustration.fetch, m_cards.imageUrl(plan->cardId),
                             m_cards.imageOrigin());
                }
            }
            m_ahead.push_back(std::move(*item));
        }
        m_scheduler.startDue(m_run.m_transfer, m_run.m_options.now(), m_filesApplied + 1);
    }

    void schedule(FetchTicket ticket, std::string url, std::string_view origin)
    {
        m_scheduler.add(ticket, std::move(url), origin);
        ++m_filesPlanned;
    }

    void updateCard(const CardPlan& plan)
    {
        m_log.writeLine(plan.cardId);
        ++m_tally.cardsChecked;
        m_run.m_progress.tallyChanged(m_tally);

        reportFileSize(plan.xml);
        if (plan.xml.fetch) {
            fetchInto(plan, plan.xml, m_cards.infoUrl(plan.cardId),
                      m_cards.shownInfoUrl(plan.cardId), 1);
        }
        if (m_tally.stopped) {
            return;
        }
        reportFileSize(plan.illustration);
        if (plan.illustration.fetch) {
            const std::string url = m_cards.imageUrl(plan.cardId);
            fetchInto(plan, plan.illustration, url, url, kMinimumIllustrationSize);
        }
    }

    void reportFileSize(const CardFile& file)
    {
        m_log.writePiece(file.path);
        reportSize(" size ", file.size);
    }

    // Waits for the fetch's final outcome; none when the user stopped the run.
    std::optional<FetchScheduler::Outcome> awaitOutcome(FetchTicket ticket)
    {
        for (;;) {
            if (auto found = m_results.find(ticket); found != m_results.end()) {
                FetchScheduler::Outcome outcome = std::move(found->second);
                m_results.erase(found);
                return outcome;
            }
            // Before the wait, so that the room the results just applied made
            // is not left empty for as long as the wait lasts.
            walkAhead(m_cardsAhead);
            for (FinishedFetch& finished : m_run.m_transfer.waitForFinished(kWaitSlice)) {
                const FetchTicket done = finished.ticket;
                if (auto outcome =
                        m_scheduler.finished(std::move(finished), m_run.m_options.now())) {
                    m_results.emplace(done, std::move(*outcome));
                }
            }
            m_run.m_progress.whileWaiting();
            if (m_run.m_progress.stopRequested()) {
                m_run.m_transfer.abandonAll();
                m_scheduler.clear();
                return std::nullopt;
            }
        }
    }

    // `wholeSize`: the size from which the file counts as repaired.
    void fetchInto(const CardPlan& plan, const CardFile& file, const std::string& url,
                   const std::string& shownUrl, std::uint64_t wholeSize)
    {
        if (m_run.m_progress.stopRequested()) {
            m_tally.stopped = true;
            return;
        }
        std::optional<FetchScheduler::Outcome> outcome = awaitOutcome(*file.fetch);
        if (!outcome) {
            m_tally.stopped = true;
            return;
        }
        if (auto* failure = std::get_if<FetchFailure>(&*outcome)) {
            throw RunError(failure->number, "cannot fetch " + shownUrl + ": " + failure->reason);
        }
        FetchResult& result = std::get<FetchResult>(*outcome);
        m_log.writePiece("Download File: ");
        m_log.writePiece(url);
        m_run.m_progress.setStatusText(std::string("Get ").append(url));
        m_run.m_progress.processPendingEvents();

        // An error page, a redirect that led nowhere or a runaway body would
        // replace a card file with junk that the next run takes for good; the
        // file is left as it was instead.
        std::string notStoredReason;
        if (!isSuccess(result.httpStatus)) {
            notStoredReason = "HTTP " + std::to_string(result.httpStatus);
        } else if (result.overSizeCap) {
            notStoredReason = "response over " + std::to_string(kBodySizeCapMiB) + " MiB";
        }
        if (!notStoredReason.empty()) {
            m_log.writeLine(" Not stored: " + notStoredReason);
            m_tally.notStored.push_back({shownUrl, file.path, std::move(notStoredReason)});
            m_run.m_progress.tallyChanged(m_tally);
        } else {
            m_run.m_fileSystem.replaceFile(file.path, result.body);
            ++m_tally.filesStored;
            m_run.m_progress.tallyChanged(m_tally);
            const std::uint64_t size = m_run.m_fileSystem.fileSize(file.path);
            if (size < wholeSize) {
                m_tally.stillTooSmall.push_back({shownUrl, file.path, size});
            }
            reportSize(" New size ", size);
        }
        // A kill after this point still finds the line in the log.
        m_log.flush();
        ++m_filesApplied;
        m_run.m_progress.fetchApplied({plan.cardId, file.path, m_filesApplied,
                                       m_filesPlanned - m_filesApplied, m_filesTotal});
    }

    void reportSize(std::string_view label, std::uint64_t size)
    {
        const std::string text = sizeText(size);
        m_log.writePiece(label);
        m_log.writeLine(text);
        m_run.m_progress.setSizeText(text);
        m_run.m_progress.processPendingEvents();
    }

    CardUpdateRun& m_run;
    RunLog& m_log;
    const CardLocations& m_cards;
    CardWalk& m_walk;
    FetchScheduler m_scheduler;
    std::size_t m_cardsAhead;
    std::deque<WalkItem> m_ahead;
    bool m_walkOver = false;
    // Final outcomes that came before their turn, at most `jobs` of them.
    std::map<FetchTicket, FetchScheduler::Outcome> m_results;
    RunTally m_tally;
    std::size_t m_filesPlanned = 0;
    std::size_t m_filesApplied = 0;
    std::optional<std::size_t> m_filesTotal;
};

CardUpdateRun::CardUpdateRun(ProgressPort& progress, FileSystemPort& fileSystem,
                             TransferPort& transfer, RunOptions options, ServiceHosts hosts,
                             std::string logPath)
    : m_progress(progress), m_fileSystem(fileSystem), m_transfer(transfer),
      m_options(std::move(options)), m_hosts(std::move(hosts)), m_logPath(std::move(logPath))
{
    m_options.jobs = std::clamp<std::size_t>(m_options.jobs, 1, kMaxJobs);
}

RunTally CardUpdateRun::run(const RunInputs& inputs)
{
    m_progress.setUpdateEnabled(false);
    m_progress.setConfirmEnabled(false);
    m_progress.processPendingEvents();

    const std::string key(trimSpaces(inputs.key));
    const std::string userName(trimSpaces(inputs.userName));
    const std::string_view typedFolder = trimSpaces(inputs.dataFolder);
    const char separator = m_fileSystem.separator();
    const std::string dataFolder = withTrailingSeparator(typedFolder, separator);
    if (dataFolder.size() != typedFolder.size()) {
        m_progress.setDataFolderText(dataFolder);
        m_progress.processPendingEvents();
    }
    refuseRootDataFolder(dataFolder, separator);

    const CardLocations cards(m_hosts, key, userName, dataFolder, separator);
    // A folder that cannot be searched fails here, before the last run's log is
    // replaced by an empty one.
    CardWalk walk(m_fileSystem, cards, dataFolder);
    walk.begin();

    const AbandonOnExit abandon(m_transfer);
    RunLog log(m_fileSystem.createLog(m_logPath));
    Session session(*this, log, cards, walk);
    if (m_options.countFetchesFirst) {
        CardWalk counting(m_fileSystem, cards, dataFolder);
        session.countFetches(counting);
    }
    RunTally tally = session.run();
    log.close();

    if (!tally.stopped) {
        m_progress.setStatusText(kDoneText);
        m_progress.setUpdateCaption(kDoneText);
        m_progress.setResetEnabled(true);
        m_progress.processPendingEvents();
    }
    return tally;
}

} // namespace kqget
