#include "update/fetch_pipeline.h"

#include <algorithm>
#include <chrono>
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
// Files looked into ahead, each on a thread of its own while its look lasts:
// enough to keep the cores busy through a few large files, few enough that
// the looks' memory stays small and a change made meanwhile is rare.
constexpr std::size_t kLooksAhead = 8;
// A file system's clock may lag the process's by its tick, and some keep
// times to two seconds: a change this close to a look's start is taken for
// one made during it.
constexpr std::chrono::seconds kClockSlack{2};

} // namespace

FetchPipeline::FetchPipeline(FileSystemPort& fileSystem, TransferPort& transfer,
                             ProgressPort& progress, const CardLocations& cards,
                             const CardWalk& runWalk, std::size_t jobs,
                             std::function<FetchScheduler::Clock::time_point()> now,
                             const ContentCheckPort* check)
    : m_fileSystem(fileSystem), m_transfer(transfer), m_progress(progress), m_cards(cards),
      m_runWalk(runWalk), m_jobs(jobs), m_now(std::move(now)), m_check(check), m_scheduler(jobs)
{}

FetchTicket FetchPipeline::request(std::string path, CardFileKind kind, std::string_view cardId,
                                   bool ahead)
{
    const FetchTicket ticket = ++m_lastTicket;
    auto body = std::make_shared<FetchedBody>(m_fileSystem, std::move(path), kind, m_budget);
    const bool image = kind == CardFileKind::Illustration;
    m_scheduler.add(ticket, image ? m_cards.wireImageUrl(cardId) : m_cards.wireInfoUrl(cardId),
                    image ? m_cards.imageOrigin() : m_cards.infoOrigin(), body);
    if (!ahead) {
        body->takeTurn();
    }
    m_fetches.emplace(ticket, Fetch{std::move(body),
                                    image ? m_cards.imageUrl(cardId) : m_cards.infoUrl(cardId),
                                    std::nullopt, std::string(cardId), kind});
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

FetchPipeline::Planned FetchPipeline::claim(std::string_view cardId)
{
    const auto found = std::find_if(m_ahead.begin(), m_ahead.end(),
                                    [&](const auto& card) { return card.first == cardId; });
    if (found == m_ahead.end()) {
        return {}; // a folder that came after the plan, or one not planned yet
    }
    for (auto it = m_ahead.begin(); it <= found; ++it) {
        const Planned& card = it->second;
        m_looksAhead -= (card.xmlCheck.valid() ? 1 : 0) + (card.illustrationCheck.valid() ? 1 : 0);
        for (const auto& ticket : {card.xml, card.illustration}) {
            if (ticket && it != found) {
                drop(*ticket);
            }
        }
    }
    Planned planned = std::move(found->second);
    m_ahead.erase(m_ahead.begin(), found + 1);
    return planned;
}

void FetchPipeline::planAhead()
{
    const bool fetching =
        m_jobs > 1 && (m_scheduler.underWay() != 0 || m_scheduler.notStarted() != 0);
    if (!fetching && m_check == nullptr) {
        return;
    }
    if (m_ahead.empty() && !m_plannerOver) {
        // The run has caught up: plan on from where it is.
        m_planner.emplace(m_runWalk);
        m_planner->setSizesFiles(true);
    }
    if (m_planner) {
        // Only looks to begin: the run's own listing and size queries serve.
        m_planner->setFollowsOnly(!fetching);
    }
    while (m_planner && m_ahead.size() < kCardsAhead && m_looksAhead < kLooksAhead &&
           m_scheduler.notStarted() < m_jobs && m_fetches.size() < kFetchesAhead &&
           *m_budget < kBodyBytesInMemory) {
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
        Planned planned;
        const auto plan = [&](const CardFile& file, CardFileKind kind, auto& fetch, auto& check) {
            if (file.fetch && m_jobs > 1) {
                fetch = request(file.path, kind, (*card)->cardId, true);
            } else if (!file.fetch && m_check != nullptr && !m_blind) {
                check = lookAhead(file.path, kind);
                m_looksAhead += check.valid() ? 1 : 0;
            }
        };
        plan((*card)->xml, CardFileKind::Xml, planned.xml, planned.xmlCheck);
        plan((*card)->illustration, CardFileKind::Illustration, planned.illustration,
             planned.illustrationCheck);
        m_ahead.emplace_back((*card)->cardId, std::move(planned));
    }
    m_scheduler.startDue(m_transfer, m_now());
}

std::shared_future<FetchPipeline::Look> FetchPipeline::lookAhead(const std::string& path,
                                                                 CardFileKind kind) noexcept
{
    try {
        return std::async(std::launch::async, [&check = *m_check, path, kind] {
            Look look{path,
                      std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch() - kClockSlack)
                          .count(),
                      false, std::nullopt};
            try {
                look.damage = check.fileDamage(path, kind);
            } catch (...) {
                look.failed = true;
            }
            return look;
        });
    } catch (...) {
        return {}; // no thread to be had: looked into at its turn
    }
}

std::optional<std::string> FetchPipeline::damage(const std::shared_future<Look>& ahead,
                                                 const std::string& path, CardFileKind kind,
                                                 FileStamp now)
{
    if (m_check == nullptr) {
        return std::nullopt;
    }
    // A change of content, a file moved in or made anew all set the change
    // time, which no program can set back. Without it no verdict ever holds.
    m_blind = m_blind || now.changed == 0;
    if (ahead.valid() && !m_blind) {
        const Look& look = ahead.get();
        if (look.path == path && !look.failed && now.changed < look.begun) {
            return look.damage;
        }
    }
    return m_check->fileDamage(path, kind);
}

void FetchPipeline::collect()
{
    for (FinishedFetch& finished : m_transfer.waitForFinished(kWaitSlice)) {
        const FetchTicket ticket = finished.ticket;
        std::optional<FetchScheduler::Outcome> done =
            m_scheduler.finished(std::move(finished), m_now());
        if (done && m_fetches.contains(ticket)) {
            m_fetches.at(ticket).done = std::move(done);
        }
    }
}

std::optional<FetchPipeline::Delivery> FetchPipeline::await(FetchTicket ticket)
{
    for (;;) {
        Fetch& fetch = m_fetches.at(ticket);
        if (!fetch.body->takeTurn()) {
            // Let go ahead of its turn, for the budget: fetched again now.
            const Fetch again = fetch;
            drop(ticket);
            ticket = request(again.body->path(), again.kind, again.cardId);
            continue;
        }
        if (fetch.done) {
            Delivery delivery{std::move(fetch.url), std::move(*fetch.done), std::move(fetch.body)};
            m_fetches.erase(ticket);
            return delivery;
        }
        m_scheduler.startDue(m_transfer, m_now(), ticket);
        // Before the wait, so that the room the results just applied made is
        // not left empty for as long as the wait lasts.
        planAhead();
        collect();
        if (const auto refused = m_scheduler.refusedTooLong(m_now())) {
            // Named by the fetch the run waits for, whose card the log ends with.
            const std::string url = fetch.kind == CardFileKind::Illustration
                                        ? fetch.url
                                        : m_cards.shownInfoUrl(fetch.cardId);
            abandon();
            throw ServiceRefusing(url, *refused);
        }
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
    m_looksAhead = 0;
    m_planner.reset();
    m_plannerOver = true;
}

} // namespace kqget
