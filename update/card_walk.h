#pragma once

#include "update/card_entries.h"
#include "update/card_file_kind.h"
#include "update/card_locations.h"
#include "update/file_system_port.h"
#include "update/run_error.h"

#include <cstdint>
#include <memory>
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
    FileStamp stamp;    // its size and what else the size query told
    bool fetch = false; // too small when the walk looked
    // Sized as the walk reached the card, with nothing done since: the size
    // the run would find if it asked again now.
    bool sizedOnArrival = false;
};

// Whether a file of `size` bytes is to be fetched.
inline bool needsFetch(std::uint64_t size, CardFileKind kind)
{
    return kind == CardFileKind::Illustration ? size < kMinimumIllustrationSize : size == 0;
}

// A card folder as the walk found it.
struct CardPlan
{
    std::string cardId;
    CardFile xml;
    CardFile illustration;
};

// The next thing the run meets on its way: a card folder (the walk's own,
// good until its next step), or a failure that ends the run at exactly that
// point.
using WalkItem = std::variant<const CardPlan*, RunError>;

// Walks the card folders A to D of the data folder, listing each letter when
// it gets there, and (when asked to) sizes each card's files. It only looks:
// nothing it does shows in the log or the window, so a copy of it can run
// ahead of the run to plan fetches.
class CardWalk
{
public:
    CardWalk(FileSystemPort& fileSystem, const CardLocations& cards, std::string dataFolder,
             bool sizesFiles);

    // Whether next() sizes the files; without, every size reads 0.
    void setSizesFiles(bool sizesFiles) noexcept { m_sizesFiles = sizesFiles; }
    // Whether next() only follows the listing it shares: takes the listing's
    // word for folders, sizes nothing and at the letter's end waits (none,
    // not over) for the walk it was copied from to list the next.
    void setFollowsOnly(bool followsOnly) noexcept { m_followsOnly = followsOnly; }
    bool over() const noexcept { return m_over; }

    // Searches the first letter. Throws RunError when the data folder cannot
    // be searched, before anything of the run has been written.
    void begin() { list(); }

    // The next card folder, or a failure (after which the walk is over), or
    // none at the end.
    std::optional<WalkItem> next();

private:
    void list();
    bool isCardFolder(std::size_t entry, std::string_view cardId);
    void examine(CardFile& file, CardFileKind kind);

    FileSystemPort& m_fileSystem;
    const CardLocations& m_cards;
    std::string m_dataFolder;
    char m_letter = 'A';
    // Shared by the copies of a walk until one moves on to the next letter.
    std::shared_ptr<const CardEntries> m_entries;
    std::size_t m_entry = 0; // an index, so that a copy of the walk goes on by itself
    bool m_over = false;
    bool m_sizesFiles;
    bool m_followsOnly = false;
    // Kept from card to card, so that their strings keep their room.
    CardPlan m_plan;
    std::string m_folderPath;
};

} // namespace kqget
