#pragma once

#include "update/card_entries.h"
#include "update/card_locations.h"
#include "update/file_system_port.h"
#include "update/run_error.h"
#include "update/transfer_port.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace kqget {

// An illustration smaller than this is fetched again.
inline constexpr std::uint64_t kMinimumIllustrationSize = 11000;

// One of a card's two files as the walk found it.
struct CardFile
{
    std::string path;
    std::uint64_t size = 0;
    std::optional<FetchTicket> fetch{}; // set when the file is to be fetched
};

// What the run is to do for one card folder, decided before any of it is done.
struct CardPlan
{
    std::string cardId;
    CardFile xml;
    CardFile illustration;
};

// The next thing the run meets on its way: a card folder, or a failure that
// ends the run at exactly that point.
using WalkItem = std::variant<CardPlan, RunError>;

// Walks the card folders A to D of the data folder and decides which files to
// fetch. It only looks: nothing it does shows in the log or the window, so it
// can run ahead of the fetches.
class CardWalk
{
public:
    CardWalk(FileSystemPort& fileSystem, const CardLocations& cards, std::string dataFolder);

    // Searches the first letter. Throws RunError when the data folder cannot
    // be searched, before anything of the run has been written.
    void begin();

    // The next card folder, or a failure (after which the walk is over), or
    // none at the end. Fetches are numbered in walk order from 1.
    std::optional<WalkItem> next();

private:
    bool nextLetter();
    CardFile examine(std::string path, bool illustration);

    FileSystemPort& m_fileSystem;
    const CardLocations& m_cards;
    std::string m_dataFolder;
    char m_letter = 'A';
    CardEntries m_entries;
    CardEntries::const_iterator m_entry;
    bool m_over = false;
    FetchTicket m_lastTicket = 0;
};

} // namespace kqget
