#include "update/fetch_pipeline.h"

#include <algorithm>
#include <utility>

namespace kqget {

namespace {

// How long the run waits for a fetch before it lets the window breathe and
// asks whether to stop.
constexpr std::chrono::milliseconds kWaitSlice{50};
// Cards planned ahead of the one whose turn it is. Enough that the other
// fetches go on through a reply a second or two late; bodies that come early
// wait on disk, so only these small records are held.
constexpr std::size_t kCardsAhead = 1024;
// What those bodies may take on disk: by number, so that a late reply does
// not leave a file per card behind it, and by bytes, so that large or runaway
// bodies do not fill a disk the run's own card needs.
constexpr std::size_t kFetchesAhead = 256;
constexpr std::uint64_t kBytesAhead = 64ULL * 1024 * 1024;

} // namespace

FetchPipeline::FetchPipeline(FileSystemPort& fileSystem, TransferPort& transfer,
                             ProgressPort& progress, const CardLocations& cards,
                             const CardWalk& runWalk, std::size_t jobs,
                             std::function<FetchScheduler::Clock::time_point()> now,
                             const ContentCheckPort* check)
    : m_fileSystem(fileSystem), m_transfer(transfer), m_progress(progress), m_cards(cards),
      m_runWalk(runWalk), m_jobs(jobs), m_now(std::move(now)), m_check(check), m_scheduler(jobs),
      m_room(std::make_shared<StagingRoom>(kBytesAhead)), m_fetchesAhead(kFetchesAhead)
{}

// Whatever way the run ends, no fetch goes on behind it and no body is left
// waiting on disk.
FetchPipeline::~FetchPipeline()
{
    abandon();
}

FetchTicket FetchPipeline::request(std::string path, CardFileKind kind, std::string_view cardId)
{
    return add(std::move(path), kind, cardId, false);
}

FetchTicket FetchPipeline::add(std::string path, CardFileKind kind, std::string_view cardId,
                               bool ahead)
{
    const FetchTicket ticket = ++m_lastTicket;
    auto body =
        std::make_shared<FetchedBody>(m_fileSystem, path, kind, m_check, ahead ? m_room : nullptr);
    if (kind == CardFileKind::Illustration) {
        m_scheduler.add(ticket, m_cards.imageUrl(cardId), m_cards.imageOrigin(), body,
                        m_cards.wireImageUrl(cardId));
    } else {
        m_scheduler.add(ticket, m_cards.infoUrl(cardId), m_cards.infoOrigin(), body,
                        m_cards.wireInfoUrl(cardId));
    }
    m_outstanding.emplace(ticket, Fetch{std::move(body), std::nullopt, std::move(path),
                                        std::string(cardId), kind, !ahead});
    return ticket;
}

FetchTicket FetchPipeline::again(std::map<FetchTicket, Fetch>::iterator fetch)
{
    std::string path = std::move(fetch->second.path);
    const std::string cardId = std::move(fetch->second.cardId);
    const CardFileKind kind = fetch->second.kind;
    drop(fetch->first);
    return add(std::move(path), kind, cardId, false);
}

void FetchPipeline::relieve(std::size_t keep)
{
    m_fetchesAhead = keep;
    while (!m_ahead.empty() && m_outstanding.size() > keep) {
        dropPlanned(m_ahead.back().fetches);
        m_ahead.pop_back();
    }
    if (keep == 0) {
        // None held at all: the card's files claimed but not yet at their
        // turn let theirs go too, and are fetched again at it.
        for (auto& [ticket, fetch] : m_outstanding) {
            if (!fetch.atTurn) {
                fetch.body->yieldAhead();
            }
        }
    }
    // Planning goes on from the run's own card once it gets there.
    m_planner.reset();
}

void FetchPipeline::drop(FetchTicket ticket)
{
    m_scheduler.drop(ticket);
    if (const auto found = m_outstanding.find(ticket); found != m_outstanding.end()) {
        found->second.body->discard();
        m_outstanding.erase(found);
    }
}

void FetchPipeline::dropPlanned(const Planned& planned)
{
    for (const auto& ticket : {planned.xml, planned.illustration}) {
        if (ticket) {
            drop(*ticket);
        }
    }
}

FetchPipeline::Planned FetchPipeline::claim(std::string_view cardId)
{
    const auto found = std::find_if(m_ahead.begin(), m_ahead.end(),
                                    [&](const PlannedCard& card) { return card.cardId == cardId; });
    if (found == m_ahead.end()) {
        return {}; // a folder that came after the plan, or one not planned yet
    }
    for (auto it = m_ahead.begin(); it != found; ++it) {
        dropPlanned(it->fetches);
    }
    const Planned planned = found->fetches;
    m_ahead.erase(m_ahead.begin(), found + 1);
    return planned;
}

void FetchPipeline::planAhead()
{
    if (m_jobs == 1 || m_fetchesAhead == 0 ||
        (m_scheduler.underWay() == 0 && m_scheduler.notStarted() == 0)) {
        return;
    }
    if (m_ahead.empty() && !m_plannerOver) {
        // The run has caught up: plan on from where it is.
        m_planner.emplace(m_runWalk);
        m_planner->setSizesFiles(true);
    }
    while (m_planner && m_ahead.size() < kCardsAhead && m_scheduler.notStarted() < m_jobs &&
           m_outstanding.size() < m_fetchesAhead && m_room->bytes < m_room->limit) {
        std::optional<WalkItem> item = m_planner->next();
        const auto* const* found = item ? std::get_if<const CardPlan*>(&*item) : nullptr;
        const CardPlan* card = found != nullptr ? *found : nullptr;
        if (card == nullptr) {
            // The end, or a failure the run will meet at its own turn.
            m_planner.reset();
            m_plannerOver = !item;
            break;
        }
        PlannedCard planned{card->cardId, {}};
        if (card->xml.fetch) {
            planned.fetches.xml = add(card->xml.path, CardFileKind::Xml, card->cardId, true);
        }
        if (card->illustration.fetch) {
            planned.fetches.illustration =
                add(card->illustration.path, CardFileKind::Illustration, card->cardId, true);
        }
        m_ahead.push_back(std::move(planned));
    }
    m_scheduler.startDue(m_transfer, m_now());
}

void FetchPipeline::collect()
{
    for (FinishedFetch& finished : m_transfer.waitForFinished(kWaitSlice)) {
        std::optional<FetchScheduler::FinalOutcome> done =
            m_scheduler.finished(std::move(finished), m_now());
        if (!done) {
            continue;
        }
        if (const auto found = m_outstanding.find(done->ticket); found != m_outstanding.end()) {
            found->second.body->finish();
            found->second.done = std::move(done);
            if (!found->second.atTurn && found->second.body->starvedAhead()) {
                relieve(m_outstanding.size() / 2);
            }
        }
    }
}

void FetchPipeline::endIfRefusedTooLong(FetchTicket awaited)
{
    const auto refused = m_scheduler.refusedTooLong(m_now());
    if (!refused) {
        return;
    }
    // Named by the fetch the run waits for, whose card the log ends with.
    const auto named = m_outstanding.find(awaited);
    std::string url;
    if (named != m_outstanding.end()) {
        const Fetch& fetch = named->second;
        url = fetch.kind == CardFileKind::Illustration ? m_cards.imageUrl(fetch.cardId)
                                                       : m_cards.shownInfoUrl(fetch.cardId);
    }
    abandon();
    throw ServiceRefusing(url, refused->httpStatus);
}

std::optional<FetchPipeline::Delivery> FetchPipeline::await(FetchTicket ticket)
{
    bool aloneYet = false;
    bool crowded = false; // other bodies were under way beside it
    for (;;) {
        auto found = m_outstanding.find(ticket);
        if (found != m_outstanding.end() && !found->second.atTurn) {
            found->second.atTurn = true;
            if (!found->second.body->takeTurn()) {
                ticket = again(found);
                continue;
            }
        }
        if (found != m_outstanding.end() && found->second.done && found->second.body->failure() &&
            !aloneYet && crowded) {
            // The card's own body could not be kept while bodies ahead of
            // their turn may have held disk and handles (those may be gone by
            // now, let go for the same shortage): it is fetched once more
            // with none held, as it would be one file at a time.
            aloneYet = true;
            relieve(0);
            ticket = again(found);
            continue;
        }
        if (found != m_outstanding.end() && found->second.done) {
            Delivery delivery{std::move(found->second.done->url),
                              std::move(found->second.done->outcome),
                              std::move(found->second.body)};
            m_outstanding.erase(found);
            return delivery;
        }
        m_scheduler.startDue(m_transfer, m_now(), ticket);
        // Before the wait, so that the room the results just applied made is
        // not left empty for as long as the wait lasts.
        planAhead();
        crowded = crowded || m_outstanding.size() > 1;
        collect();
        endIfRefusedTooLong(ticket);
        m_progress.whileWaiting();
        if (m_progress.stopRequested()) {
            abandon();
            return std::nullopt;
        }
    }
}

void FetchPipeline::abandon() noexcept
{
    m_transfer.abandonAll();
    m_scheduler.clear();
    for (auto& [ticket, fetch] : m_outstanding) {
        fetch.body->discard();
    }
    m_outstanding.clear();
    m_ahead.clear();
    m_planner.reset();
    m_plannerOver = true;
}

} // namespace kqget
