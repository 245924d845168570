#include "update/card_walk.h"

#include <utility>

namespace kqget {

CardWalk::CardWalk(FileSystemPort& fileSystem, const CardLocations& cards, std::string dataFolder,
                   bool sizesFiles)
    : m_fileSystem(fileSystem), m_cards(cards), m_dataFolder(std::move(dataFolder)),
      m_sizesFiles(sizesFiles)
{}

void CardWalk::list()
{
    // The letter before goes first: two letters' names never share memory.
    m_entries.reset();
    m_entry = 0;
    CardEntries entries = m_fileSystem.searchCardEntries(m_dataFolder, m_letter);
    entries.finish();
    m_entries = std::make_shared<const CardEntries>(std::move(entries));
}

bool CardWalk::isCardFolder(std::size_t entry, std::string_view cardId)
{
    if (cardId == "." || cardId == "..") {
        return false;
    }
    CardFile& xml = m_plan.xml;
    m_cards.formXmlPath(cardId, xml.path);
    xml.stamp = {};
    xml.sizedOnArrival = false;
    const EntryType type = m_entries->type(entry);
    if (m_followsOnly || type == EntryType::Other) {
        return type == EntryType::Folder;
    }
    if (type == EntryType::Folder) {
        // Listed as a folder when the letter's turn came, it may be gone by
        // the card's. A file with content in it says it is still there, and
        // its size is the first thing the run asks.
        xml.stamp = m_fileSystem.fileStamp(xml.path);
        xml.sizedOnArrival = xml.stamp.size != 0;
        if (xml.sizedOnArrival) {
            return true;
        }
    }
    m_cards.formFolderPath(cardId, m_folderPath);
    return m_fileSystem.isDirectory(m_folderPath);
}

std::optional<WalkItem> CardWalk::next()
{
    if (m_over || !m_entries) {
        return std::nullopt; // over, or never begun
    }
    try {
        for (;;) {
            while (m_entry == m_entries->size()) {
                if (m_letter == 'D') {
                    m_over = true;
                    return std::nullopt;
                }
                if (m_followsOnly) {
                    return std::nullopt;
                }
                ++m_letter;
                list();
            }
            const std::size_t entry = m_entry++;
            const std::string_view cardId = (*m_entries)[entry];
            if (!isCardFolder(entry, cardId)) {
                continue;
            }
            m_plan.cardId.assign(cardId);
            examine(m_plan.xml, CardFileKind::Xml);
            m_cards.formIllustrationPath(cardId, m_plan.illustration.path);
            m_plan.illustration.sizedOnArrival = false;
            examine(m_plan.illustration, CardFileKind::Illustration);
            return &m_plan;
        }
    } catch (const RunError& error) {
        m_over = true;
        return error;
    }
}

void CardWalk::examine(CardFile& file, CardFileKind kind)
{
    // A walk that only follows sizes nothing, and finds nothing sized.
    const bool sizes = m_sizesFiles && !m_followsOnly;
    if (!file.sizedOnArrival) {
        file.stamp = sizes ? m_fileSystem.fileStamp(file.path) : FileStamp{};
    }
    file.fetch = (sizes || file.sizedOnArrival) && needsFetch(file.stamp.size, kind);
}

} // namespace kqget
