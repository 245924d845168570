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

} // namespace

FetchPipeline::FetchPipeline(FileSystemPort& fileSystem, TransferPort& transfer,
                             ProgressPort& progress, const CardLocations& cards,
                             const CardWalk& turn, std::size_t jobs,
                             std::function<FetchScheduler::Clock::time_point()> now)
    : m_fileSystem(fileSystem), m_transfer(transfer), m_progress(progress), m_cards(cards),
      m_turn(turn), m_jobs(jobs), m_now(std::move(now)), m_scheduler(jobs)
{}

// Whatever way the run ends, no fetch goes on behind it and no body is left
// waiting on disk.
FetchPipeline::~FetchPipeline()
{
    abandon();
}

FetchTicket FetchPipeline::request(std::string path, bool illustration, std::string_view cardId)
{
    const FetchTicket ticket = ++m_lastTicket;
    auto body = std::make_shared<FetchedBody>(m_fileSystem, std::move(path));
    if (illustration) {
        m_scheduler.add(ticket, m_cards.imageUrl(cardId), m_cards.imageOrigin(), body);
    } else {
        m_scheduler.add(ticket, m_cards.infoUrl(cardId), m_cards.infoOrigin(), body);
    }
    m_fetches.emplace(ticket, Fetch{std::move(body), std::nullopt});
    return ticket;
}

void FetchPipeline::drop(FetchTicket ticket)
{
    m_scheduler.drop(ticket);
    if (const auto found = m_fetches.find(ticket); found != m_fetches.end()) {
        found->second.body->discard();
        m_fetches.erase(found);
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
    if (m_jobs == 1 || (m_scheduler.underWay() == 0 && m_scheduler.notStarted() == 0)) {
        return;
    }
    if (m_ahead.empty() && !m_plannerOver) {
        // The run has caught up: plan on from where it is.
        m_planner.emplace(m_turn);
        m_planner->setSizesFiles(true);
    }
    while (m_planner && m_ahead.size() < kCardsAhead && m_scheduler.notStarted() < m_jobs) {
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
            planned.fetches.xml = request(card->xml.path, false, card->cardId);
        }
        if (card->illustration.fetch) {
            planned.fetches.illustration = request(card->illustration.path, true, card->cardId);
        }
        m_ahead.push_back(std::move(planned));
    }
    m_scheduler.startDue(m_transfer, m_now());
}

void FetchPipeline::collect()
{
    for (FinishedFetch& finished : m_transfer.waitForFinished(kWaitSlice)) {
        std::optional<FetchScheduler::Done> done =
            m_scheduler.finished(std::move(finished), m_now());
        if (!done) {
            continue;
        }
        if (const auto found = m_fetches.find(done->ticket); found != m_fetches.end()) {
            found->second.body->finish();
            found->second.done = std::move(done);
        }
    }
}

std::optional<FetchPipeline::Arrived> FetchPipeline::await(FetchTicket ticket)
{
    for (;;) {
        const auto found = m_fetches.find(ticket);
        if (found != m_fetches.end() && found->second.done) {
            Arrived arrived{std::move(found->second.done->url),
                            std::move(found->second.done->outcome), std::move(found->second.body)};
            m_fetches.erase(found);
            return arrived;
        }
        m_scheduler.startDue(m_transfer, m_now(), ticket);
        // Before the wait, so that the room the results just applied made is
        // not left empty for as long as the wait lasts.
        planAhead();
        collect();
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
    for (auto& [ticket, fetch] : m_fetches) {
        fetch.body->discard();
    }
    m_fetches.clear();
    m_ahead.clear();
    m_planner.reset();
    m_plannerOver = true;
}

} // namespace kqget
