#include "update/card_update_run.h"

#include "update/fetch_pipeline.h"
#include "update/run_log.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace kqget {

namespace {

// How many cards the counting walk looks at between two checks for a stop.
constexpr std::size_t kCardsBetweenStopChecks = 256;

} // namespace

// One run's working state, from the log's creation to its close.
class CardUpdateRun::LibraryRepair
{
public:
    LibraryRepair(CardUpdateRun& run, RunLog& log, const CardLocations& cards, CardWalk& walk,
                  std::string dataFolder)
        : m_run(run), m_log(log), m_cards(cards), m_walk(walk),
          m_pipeline(run.m_fileSystem, run.m_transfer, run.m_progress, cards, walk,
                     run.m_options.jobs, run.m_options.now, run.m_options.verify)
    {
        m_tally.dataFolder = std::move(dataFolder);
        m_tally.verified = run.m_options.verify != nullptr;
    }

    // A first pass over the library, so that a progress line can tell how much
    // is left. A failure here is left for the run itself to meet; a stop, for
    // its first check.
    void countFetches(CardWalk& walk)
    {
        try {
            walk.begin();
        } catch (const RunError&) {
            return;
        }
        std::size_t total = 0;
        std::size_t cards = 0;
        while (auto item = walk.next()) {
            const auto* plan = std::get_if<const CardPlan*>(&*item);
            if (plan == nullptr) {
                return; // the run itself will meet the failure; no estimate then
            }
            total += ((*plan)->xml.fetch ? 1 : 0) + ((*plan)->illustration.fetch ? 1 : 0);
            if (++cards % kCardsBetweenStopChecks == 0 && m_run.m_progress.stopRequested()) {
                return;
            }
        }
        m_filesTotal = total;
    }

    RunTally run()
    {
        while (auto item = m_walk.next()) {
            if (const auto* failure = std::get_if<RunError>(&*item)) {
                throw *failure;
            }
            if (m_run.m_progress.stopRequested()) {
                m_tally.stopped = true;
                break;
            }
            updateCard(*std::get<const CardPlan*>(*item));
            if (m_tally.stopped) {
                break;
            }
            m_pipeline.planAhead();
        }
        return std::move(m_tally);
    }

private:
    void updateCard(const CardPlan& card)
    {
        const std::string& cardId = card.cardId;
        const FetchPipeline::Planned planned = m_pipeline.claim(cardId);
        m_log.writeLine(cardId);
        ++m_tally.cardsChecked;
        m_run.m_progress.tallyChanged(m_tally);

        updateFile(cardId, card.xml, CardFileKind::Xml, planned.xml, planned.xmlCheck);
        if (m_tally.stopped) {
            return;
        }
        updateFile(cardId, card.illustration, CardFileKind::Illustration, planned.illustration,
                   planned.illustrationCheck);
    }

    // Sizes the file as it is now and fetches it when it needs that, with the
    // fetch planned for it or a new one.
    void updateFile(const std::string& cardId, const CardFile& file, CardFileKind kind,
                    std::optional<FetchTicket> planned,
                    const std::shared_future<FetchPipeline::Look>& check)
    {
        const std::string& path = file.path;
        const FileStamp stamp =
            file.sizedOnArrival ? file.stamp : m_run.m_fileSystem.fileStamp(path);
        m_log.writePiece(path);
        reportSize(path, " size ", stamp.size);
        if (!needsFetch(stamp.size, kind) && !foundDamaged(path, kind, stamp, check)) {
            if (planned) {
                m_pipeline.drop(*planned);
            }
            return;
        }
        if (m_run.m_progress.stopRequested()) {
            m_tally.stopped = true;
            return;
        }
        const FetchTicket ticket = planned ? *planned : m_pipeline.request(path, kind, cardId);
        std::optional<FetchPipeline::Delivery> arrived = m_pipeline.await(ticket);
        if (!arrived) {
            m_tally.stopped = true;
            return;
        }
        apply(cardId, path, kind, *arrived);
    }

    // A file that passes the size rules but is no whole card file is fetched
    // as if it were missing.
    bool foundDamaged(const std::string& path, CardFileKind kind, FileStamp stamp,
                      const std::shared_future<FetchPipeline::Look>& check)
    {
        std::optional<std::string> damage = m_pipeline.damage(check, path, kind, stamp);
        if (!damage) {
            return false;
        }
        m_log.writeLine(path + " damaged: " + *damage);
        m_tally.damaged.push_back({path, std::move(*damage)});
        m_run.m_progress.tallyChanged(m_tally);
        return true;
    }

    void apply(const std::string& cardId, const std::string& path, CardFileKind kind,
               FetchPipeline::Delivery& arrived)
    {
        const std::string shownUrl =
            kind == CardFileKind::Illustration ? arrived.url : m_cards.shownInfoUrl(cardId);
        const auto* result = std::get_if<FetchResult>(&arrived.outcome);
        // A body that could not be kept is a store that failed, whatever the
        // transfer made of being stopped.
        if (result == nullptr && !arrived.body->failure()) {
            const auto& failure = std::get<FetchFailure>(arrived.outcome);
            throw RunError(failure.number, "cannot fetch " + shownUrl + ": " + failure.reason);
        }
        m_log.writePiece("Download File: ");
        m_log.writePiece(arrived.url);
        ++m_filesApplied;
        m_run.m_progress.fetchApplied(
            {path, arrived.url, m_filesApplied, m_pipeline.queued(), m_filesTotal});

        std::string reason = result ? notStoredReason(*result, *arrived.body) : std::string();
        const std::optional<std::uint64_t> size =
            reason.empty() ? store(*arrived.body, reason) : std::nullopt;
        if (!size) {
            arrived.body->discard();
            m_log.writeLine(" Not stored: " + reason);
            m_tally.notStored.push_back({shownUrl, path, std::move(reason)});
            m_run.m_progress.tallyChanged(m_tally);
        } else {
            ++m_tally.filesStored;
            m_run.m_progress.tallyChanged(m_tally);
            if (needsFetch(*size, kind)) {
                m_tally.stillTooSmall.push_back({shownUrl, path, *size});
            }
            reportSize(path, " New size ", *size);
        }
        // A kill after this point still finds the line in the log.
        m_log.flush();
    }

    // Why a reply may not replace its card file; empty when it may. An error
    // page, a redirect that led nowhere or a runaway body would replace a card
    // file with junk that the next run takes for good; a sign-in page served
    // as 200 would pass the size rules and never be fetched again.
    static std::string notStoredReason(const FetchResult& result, const FetchedBody& body)
    {
        if (!isContentStatus(result.httpStatus)) {
            return "HTTP " + std::to_string(result.httpStatus);
        }
        if (result.overSizeCap) {
            return "response over " + std::to_string(kBodySizeCapMiB) + " MiB";
        }
        if (!result.undecodedEncoding.empty()) {
            return "encoded as " + result.undecodedEncoding;
        }
        return body.refusal();
    }

    // Returns the size stored; none when the body was found damaged or only
    // this card file could not be stored, why then in `reason`. A failure that
    // every later card would meet ends the run, never the log in mid-line.
    std::optional<std::uint64_t> store(FetchedBody& body, std::string& reason)
    {
        try {
            FetchedBody::Stored stored = body.store(m_run.m_options.verify);
            reason = std::move(stored.damage);
            return reason.empty() ? std::optional(stored.size) : std::nullopt;
        } catch (const RunError& error) {
            // A card file's folder gone is that card's; the data folder gone
            // is every card's.
            if (error.reach() == FailureReach::OneCardFile &&
                m_run.m_fileSystem.isDirectory(m_tally.dataFolder)) {
                reason = error.what();
                return std::nullopt;
            }
            m_log.writeLine(std::string(" Not stored: ").append(error.what()));
            m_log.flush();
            if (error.reach() == FailureReach::Run) {
                throw;
            }
            throw RunError(ErrorNumber::DataFolder,
                           "data folder '" + m_tally.dataFolder + "' is gone: " + error.what());
        }
    }

    void reportSize(std::string_view path, std::string_view label, std::uint64_t size)
    {
        const std::string text = std::to_string(size);
        m_log.writePiece(label);
        m_log.writeLine(text);
        m_run.m_progress.fileSized(path, text);
    }

    CardUpdateRun& m_run;
    RunLog& m_log;
    const CardLocations& m_cards;
    CardWalk& m_walk;
    FetchPipeline m_pipeline;
    RunTally m_tally;
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
    m_progress.runStarted();

    const std::string key(trimSpaces(inputs.key));
    const std::string userName(trimSpaces(inputs.userName));
    const std::string_view typedFolder = trimSpaces(inputs.dataFolder);
    const char separator = m_fileSystem.separatorFor(typedFolder);
    std::string dataFolder(typedFolder);
    if (!typedFolder.ends_with(separator)) {
        dataFolder.push_back(separator);
        m_progress.dataFolderNormalised(dataFolder);
    }
    refuseRootDataFolder(dataFolder, separator);

    const std::unique_ptr<RunLock> lock = m_fileSystem.lockRun(m_logPath, dataFolder);
    const CardLocations cards(m_hosts, key, userName, dataFolder, separator);
    // A folder that cannot be searched fails here, before the last run's log is
    // replaced by an empty one.
    CardWalk walk(m_fileSystem, cards, dataFolder, false);
    walk.begin();

    RunLog log(m_fileSystem.createLog(m_logPath));
    LibraryRepair repair(*this, log, cards, walk, dataFolder);
    if (m_options.countFetchesFirst) {
        CardWalk counting(m_fileSystem, cards, dataFolder, true);
        repair.countFetches(counting);
    }
    RunTally tally = repair.run();
    log.close();
    m_progress.runEnded(tally);
    return tally;
}

} // namespace kqget
