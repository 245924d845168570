#include "update/fetch_pipeline.h"

#include <algorithm>
#include <utility>

namespace kqget {

namespace {

// How long the run waits for a fetch before it lets the window breathe and
// asks whether to stop.
constexpr std::chrono::milliseconds kWaitSlice{50};
// Cards planned ahead of the one whose turn it is. Enough that the other
// fetches go on through a reply a second or two late; only these small
// records and the bodies within the budget are held.
constexpr std::size_t kCardsAhead = 1024;
constexpr std::size_t kFetchesAhead = 256;
// What the bodies may hold in memory together, decoded.
constexpr std::uint64_t kBytesAhead = 64ULL * 1024 * 1024;
// Files looked into ahead: enough to keep every thread busy through a few
// large files, few enough that a change made meanwhile is rare.
constexpr std::size_t kChecksAhead = 64;

std::size_t checksOf(const FetchPipeline::Planned& planned)
{
    return (planned.xmlCheck ? 1 : 0) + (planned.illustrationCheck ? 1 : 0);
}

} // namespace

FetchPipeline::FetchPipeline(FileSystemPort& fileSystem, TransferPort& transfer,
                             ProgressPort& progress, const CardLocations& cards,
                             const CardWalk& runWalk, std::size_t jobs,
                             std::function<FetchScheduler::Clock::time_point()> now,
                             const ContentCheckPort* check)
    : m_fileSystem(fileSystem), m_transfer(transfer), m_progress(progress), m_cards(cards),
      m_runWalk(runWalk), m_jobs(jobs), m_now(std::move(now)), m_scheduler(jobs),
      m_budget(std::make_shared<BodyBudget>(kBytesAhead))
{
    if (check != nullptr) {
        m_checks.emplace(*check);
    }
}

// Whatever way the run ends, no fetch goes on behind it.
FetchPipeline::~FetchPipeline()
{
    abandon();
}

FetchTicket FetchPipeline::request(std::string path, CardFileKind kind, std::string_view cardId)
{
    const FetchTicket ticket = add(std::move(path), kind, cardId);
    m_outstanding.at(ticket).body->takeTurn();
    return ticket;
}

FetchTicket FetchPipeline::add(std::string path, CardFileKind kind, std::string_view cardId)
{
    const FetchTicket ticket = ++m_lastTicket;
    auto body = std::make_shared<FetchedBody>(m_fileSystem, path, kind, m_budget);
    if (kind == CardFileKind::Illustration) {
        m_scheduler.add(ticket, m_cards.imageUrl(cardId), m_cards.imageOrigin(), body,
                        m_cards.wireImageUrl(cardId));
    } else {
        m_scheduler.add(ticket, m_cards.infoUrl(cardId), m_cards.infoOrigin(), body,
                        m_cards.wireInfoUrl(cardId));
    }
    m_outstanding.emplace(
        ticket, Fetch{std::move(body), std::nullopt, std::move(path), std::string(cardId), kind});
    return ticket;
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
    m_checksAhead -= checksOf(planned);
}

FetchPipeline::Planned FetchPipeline::claim(std::string_view cardId)
{
    const auto found = std::find_if(m_ahead.begin(), m_ahead.end(),
                                    [&](const PlannedCard& card) { return card.cardId == cardId; });
    if (found == m_ahead.end()) {
        return {}; // a folder that came after the plan, or one not planned yet
    }
    for (auto it = m_ahead.begin(); it != found; ++it) {
        dropPlanned(it->planned);
    }
    Planned planned = std::move(found->planned);
    m_checksAhead -= checksOf(planned);
    m_ahead.erase(m_ahead.begin(), found + 1);
    return planned;
}

void FetchPipeline::plan(const CardPlan& card)
{
    PlannedCard planned{card.cardId, {}};
    const bool fetches = m_jobs > 1;
    if (card.xml.fetch && fetches) {
        planned.planned.xml = add(card.xml.path, CardFileKind::Xml, card.cardId);
    } else if (!card.xml.fetch && m_checks) {
        planned.planned.xmlCheck = m_checks->queue(card.xml.path, CardFileKind::Xml);
    }
    if (card.illustration.fetch && fetches) {
        planned.planned.illustration =
            add(card.illustration.path, CardFileKind::Illustration, card.cardId);
    } else if (!card.illustration.fetch && m_checks) {
        planned.planned.illustrationCheck =
            m_checks->queue(card.illustration.path, CardFileKind::Illustration);
    }
    m_checksAhead += checksOf(planned.planned);
    m_ahead.push_back(std::move(planned));
}

void FetchPipeline::planAhead()
{
    const bool fetching =
        m_jobs > 1 && (m_scheduler.underWay() != 0 || m_scheduler.notStarted() != 0);
    if (!fetching && !m_checks) {
        return;
    }
    if (m_ahead.empty() && !m_plannerOver) {
        // The run has caught up: plan on from where it is.
        m_planner.emplace(m_runWalk);
        m_planner->setSizesFiles(true);
    }
    if (m_planner) {
        // Only looks to queue: the run's own listing and size queries serve.
        m_planner->setFollowsOnly(!fetching);
    }
    while (m_planner && m_ahead.size() < kCardsAhead && m_scheduler.notStarted() < m_jobs &&
           m_outstanding.size() < kFetchesAhead && m_checksAhead < kChecksAhead &&
           m_budget->used < m_budget->limit) {
        std::optional<WalkItem> item = m_planner->next();
        if (!item) {
            // The end, or a letter the run's walk is to list first.
            m_plannerOver = m_planner->over();
            break;
        }
        const auto* const* card = std::get_if<const CardPlan*>(&*item);
        if (card == nullptr) {
            m_planner.reset(); // a failure the run will meet at its own turn
            break;
        }
        plan(**card);
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
            found->second.done = std::move(done);
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
    for (;;) {
        auto found = m_outstanding.find(ticket);
        if (found != m_outstanding.end() && !found->second.body->takeTurn()) {
            // Let go ahead of its turn, for the budget: fetched again now.
            std::string path = std::move(found->second.path);
            const std::string cardId = std::move(found->second.cardId);
            const CardFileKind kind = found->second.kind;
            drop(ticket);
            ticket = request(std::move(path), kind, cardId);
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
    m_checksAhead = 0;
    m_planner.reset();
    m_plannerOver = true;
}

} // namespace kqget
