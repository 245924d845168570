#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace kqget {

// What a listing says of an entry without being asked: most file systems
// tell a folder from anything else as they list; some do not, and a link
// says nothing of what it points to.
enum class EntryType : std::uint8_t
{
    Unknown, // the run must ask
    Folder,
    Other,
};

// The card names found under one letter, in the order a run visits them. A
// library can hold hundreds of thousands of cards under a letter, so the names
// sit packed, each behind one byte for its length and type, in blocks that
// are never moved (no old and new buffer alive together as they grow), and
// the index over them is sized from the count once the listing is done.
class CardEntries
{
    static constexpr std::size_t kBlockSize = 64 * 1024;
    static constexpr unsigned kTypeShift = 6;
    static constexpr unsigned kLengthMask = (1u << kTypeShift) - 1;

public:
    // Longer names are never card names.
    static constexpr std::size_t kMaxNameBytes = kLengthMask;

    // Throws std::length_error for a name over kMaxNameBytes.
    void add(std::string_view name, EntryType type = EntryType::Unknown)
    {
        if (name.size() > kMaxNameBytes) {
            throw std::length_error("a card name of more than 63 bytes");
        }
        if (m_blocks.empty() || kBlockSize - m_used < 1 + name.size()) {
            if (!m_blocks.empty()) {
                m_blockEnds.push_back(m_used);
            }
            m_blocks.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
            m_used = 0;
        }
        char* record = m_blocks.back().get() + m_used;
        record[0] = static_cast<char>(name.size() | (static_cast<unsigned>(type) << kTypeShift));
        std::copy(name.begin(), name.end(), record + 1);
        m_used += 1 + name.size();
        ++m_count;
    }

    // Makes the names readable by position, in the order they were added.
    // Called once the listing is done; again, it does nothing.
    void finish()
    {
        if (m_index.size() == m_count) {
            return;
        }
        m_index.clear();
        m_index.reserve(m_count);
        for (std::size_t block = 0; block < m_blocks.size(); ++block) {
            const std::size_t end = block + 1 == m_blocks.size() ? m_used : m_blockEnds[block];
            for (std::size_t at = 0; at < end; at += 1 + lengthOf(m_blocks[block][at])) {
                m_index.push_back(static_cast<std::uint32_t>(block * kBlockSize + at));
            }
        }
    }

    // Finishes the list and puts the names in the order that `less`, given
    // two names, defines.
    template <typename Less> void sort(Less less)
    {
        finish();
        std::sort(m_index.begin(), m_index.end(), [this, &less](std::uint32_t a, std::uint32_t b) {
            return less(name(a), name(b));
        });
    }

    // These read a finished list.
    std::size_t size() const noexcept { return m_index.size(); }
    std::string_view operator[](std::size_t index) const { return name(m_index[index]); }
    EntryType type(std::size_t index) const
    {
        return static_cast<EntryType>(static_cast<unsigned char>(*record(m_index[index])) >>
                                      kTypeShift);
    }

private:
    static std::size_t lengthOf(char header) noexcept
    {
        return static_cast<unsigned char>(header) & kLengthMask;
    }
    const char* record(std::uint32_t at) const
    {
        return m_blocks[at / kBlockSize].get() + at % kBlockSize;
    }
    std::string_view name(std::uint32_t at) const
    {
        const char* found = record(at);
        return {found + 1, lengthOf(*found)};
    }

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::size_t> m_blockEnds; // how full each block but the last was left
    std::size_t m_used = 0;               // of the last block
    std::size_t m_count = 0;
    std::vector<std::uint32_t> m_index;
};

} // namespace kqget
