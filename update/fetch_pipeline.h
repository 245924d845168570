#pragma once

#include "update/card_locations.h"
#include "update/card_walk.h"
#include "update/content_check_port.h"
#include "update/fetch_scheduler.h"
#include "update/fetched_body.h"
#include "update/progress_port.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqget {

// The fetches of one run. A planner, a copy of the run's walk, looks ahead
// of the card whose turn it is and sends out the fetches those cards seem to
// need, so that replies come while earlier cards wait for theirs; their
// bodies wait in memory. With a content check it also begins the look into
// each card file kept, each on a thread of its own: a library in order is
// mostly reading and inflating, which several cores share. Planning decides
// nothing: at each card's turn the run claims what was planned, asks for what
// was not, and drops what is no longer needed.
class FetchPipeline
{
public:
    // What the card's turn is handed: the fetch's final outcome and its body,
    // not yet stored.
    struct Delivery
    {
        std::string url; // as built when the fetch was asked for
        FetchScheduler::Outcome outcome;
        std::shared_ptr<FetchedBody> body;
    };
    // A look into a card file begun ahead of its turn.
    struct Look
    {
        std::string path;
        std::int64_t begun = 0; // on the clock of FileStamp::changed, less a slack
        bool failed = false;    // the look threw: the turn meets that itself
        std::optional<std::string> damage;
    };
    // What was planned for one card, by file: a fetch, or a look into it. A
    // look is waited for when its last handle goes.
    struct Planned
    {
        std::optional<FetchTicket> xml;
        std::optional<FetchTicket> illustration;
        std::shared_future<Look> xmlCheck;
        std::shared_future<Look> illustrationCheck;
    };

    // `runWalk` is the run's own walk, which lists each letter at its turn.
    // With `check`, the card files kept are looked into ahead of their turn.
    FetchPipeline(FileSystemPort& fileSystem, TransferPort& transfer, ProgressPort& progress,
                  const CardLocations& cards, const CardWalk& runWalk, std::size_t jobs,
                  std::function<FetchScheduler::Clock::time_point()> now,
                  const ContentCheckPort* check = nullptr);
    // Whatever way the run ends, no fetch goes on behind it.
    ~FetchPipeline() { abandon(); }
    FetchPipeline(const FetchPipeline&) = delete;
    FetchPipeline& operator=(const FetchPipeline&) = delete;

    // What was planned for the card whose turn it is. Cards planned before
    // it that the run's walk did not meet (their folders went away) lose
    // what was planned for them.
    Planned claim(std::string_view cardId);

    // A fetch for a file at its turn, whose need the plan did not foresee;
    // or `ahead` of its turn, for the plan.
    FetchTicket request(std::string path, CardFileKind kind, std::string_view cardId,
                        bool ahead = false);

    // The file does not need the fetch after all: its body is dropped unseen.
    void drop(FetchTicket ticket);

    // Waits for the fetch's final outcome; none when the user stopped the run,
    // in which case every fetch has been abandoned. Throws ServiceRefusing,
    // every fetch abandoned, once the service has refused for too long.
    std::optional<Delivery> await(FetchTicket ticket);

    // With a content check, what is wrong with the file at `path`, whose size
    // query at its turn gave `now`; none when it is sound. The verdict of the
    // look `ahead` counts only when that query says that the file has not
    // changed since before the look began; else the file is looked into now.
    std::optional<std::string> damage(const std::shared_future<Look>& ahead,
                                      const std::string& path, CardFileKind kind, FileStamp now);

    // Plans ahead of the run's walk while the fetches under way and the
    // looks begun leave room. It lists letters ahead of the run only while
    // some fetch is out: a library in order is walked once.
    void planAhead();

    // Fetches asked for (planned or not) and neither applied nor dropped.
    std::size_t queued() const noexcept { return m_fetches.size(); }

    // Drops every fetch and its body at once.
    void abandon() noexcept;

private:
    struct Fetch
    {
        std::shared_ptr<FetchedBody> body;
        std::string url;
        std::optional<FetchScheduler::Outcome> done;
        std::string cardId;
        CardFileKind kind;
    };

    void collect();
    std::shared_future<Look> lookAhead(const std::string& path, CardFileKind kind) noexcept;

    FileSystemPort& m_fileSystem;
    TransferPort& m_transfer;
    ProgressPort& m_progress;
    const CardLocations& m_cards;
    const CardWalk& m_runWalk;
    std::size_t m_jobs;
    std::function<FetchScheduler::Clock::time_point()> m_now;
    const ContentCheckPort* m_check;
    bool m_blind = false; // no change times: no verdict ahead would ever count
    FetchScheduler m_scheduler;
    std::optional<CardWalk> m_planner;
    bool m_plannerOver = false;
    std::deque<std::pair<std::string, Planned>> m_ahead; // by card id, in the walk's order
    std::size_t m_looksAhead = 0;                        // begun and not yet claimed
    std::map<FetchTicket, Fetch> m_fetches;              // what queued() counts
    FetchTicket m_lastTicket = 0;
    std::shared_ptr<BodyBudget> m_budget = std::make_shared<BodyBudget>(0);
};

} // namespace kqget
