#include "update/card_walk.h"

#include <utility>

namespace kqget {

CardWalk::CardWalk(FileSystemPort& fileSystem, const CardLocations& cards, std::string dataFolder)
    : m_fileSystem(fileSystem), m_cards(cards), m_dataFolder(std::move(dataFolder))
{}

void CardWalk::begin()
{
    m_entries = m_fileSystem.searchCardEntries(m_dataFolder, m_letter);
    m_entry = m_entries.begin();
}

bool CardWalk::nextLetter()
{
    if (m_letter == 'D') {
        return false;
    }
    ++m_letter;
    m_entries = m_fileSystem.searchCardEntries(m_dataFolder, m_letter);
    m_entry = m_entries.begin();
    return true;
}

std::optional<WalkItem> CardWalk::next()
{
    if (m_over) {
        return std::nullopt;
    }
    try {
        for (;;) {
            while (m_entry == m_entries.end()) {
                if (!nextLetter()) {
                    m_over = true;
                    return std::nullopt;
                }
            }
            const std::string_view cardId = *m_entry++;
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
    file.size = m_fileSystem.fileSize(file.path);
    const bool fetch = illustration ? file.size < kMinimumIllustrationSize : file.size == 0;
    if (fetch) {
        file.fetch = ++m_lastTicket;
    }
    return file;
}

} // namespace kqget
