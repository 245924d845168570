#include "update/card_walk.h"

#include <utility>

namespace kqget {

CardWalk::CardWalk(FileSystemPort& fileSystem, const CardLocations& cards, std::string dataFolder,
                   bool sizesFiles)
    : m_fileSystem(fileSystem), m_cards(cards), m_dataFolder(std::move(dataFolder)),
      m_sizesFiles(sizesFiles)
{}

void CardWalk::begin()
{
    m_entries = m_fileSystem.searchCardEntries(m_dataFolder, m_letter);
    m_entry = 0;
}

bool CardWalk::nextLetter()
{
    if (m_letter == 'D') {
        return false;
    }
    ++m_letter;
    m_entries = m_fileSystem.searchCardEntries(m_dataFolder, m_letter);
    m_entry = 0;
    return true;
}

std::optional<WalkItem> CardWalk::next()
{
    if (m_over) {
        return std::nullopt;
    }
    try {
        for (;;) {
            while (m_entry == m_entries.size()) {
                if (!nextLetter()) {
                    m_over = true;
                    return std::nullopt;
                }
            }
            const std::string_view cardId = m_entries[m_entry++];
            if (cardId == "." || cardId == ".." ||
                !m_fileSystem.isDirectory(m_cards.folderPath(cardId))) {
                continue;
            }
            CardPlan plan{std::string(cardId), examine(m_cards.xmlPath(cardId), false),
                          examine(m_cards.illustrationPath(cardId), true)};
            return plan;
        }
    } catch (const RunError& error) {
        m_over = true;
        return error;
    }
}

CardFile CardWalk::examine(std::string path, bool illustration)
{
    CardFile file{std::move(path)};
    if (m_sizesFiles) {
        file.size = m_fileSystem.fileSize(file.path);
        file.fetch = needsFetch(file.size, illustration);
    }
    return file;
}

} // namespace kqget
