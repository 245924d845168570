#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace kqget {

// The card names found under one letter, in the order a run visits them. They
// sit packed in one buffer: a library can hold tens of thousands of cards under
// a letter, and a string object for each would make a run's peak memory grow
// with the library by more than twice what the names themselves take.
class CardEntries
{
    struct Span
    {
        std::uint32_t start;
        std::uint32_t length;
    };
    using Spans = std::vector<Span>;

public:
    using value_type = std::string_view;

    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        const_iterator() = default;
        std::string_view operator*() const { return m_entries->view(*m_span); }
        const_iterator& operator++()
        {
            ++m_span;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_span;
            return before;
        }
        bool operator==(const const_iterator& other) const { return m_span == other.m_span; }

    private:
        friend class CardEntries;
        const_iterator(const CardEntries* entries, Spans::const_iterator span)
            : m_entries(entries), m_span(span)
        {}

        const CardEntries* m_entries = nullptr;
        Spans::const_iterator m_span;
    };
    using iterator = const_iterator;

    void add(std::string_view name)
    {
        m_spans.push_back(
            {static_cast<std::uint32_t>(m_text.size()), static_cast<std::uint32_t>(name.size())});
        m_text.append(name);
    }

    // Puts the names in the order that `less`, given two names, defines.
    template <typename Less> void sort(Less less)
    {
        std::sort(m_spans.begin(), m_spans.end(),
                  [this, &less](Span a, Span b) { return less(view(a), view(b)); });
    }

    std::size_t size() const noexcept { return m_spans.size(); }
    std::string_view operator[](std::size_t index) const { return view(m_spans[index]); }
    bool empty() const noexcept { return m_spans.empty(); }
    const_iterator begin() const { return {this, m_spans.begin()}; }
    const_iterator end() const { return {this, m_spans.end()}; }

private:
    std::string_view view(Span span) const
    {
        return std::string_view(m_text).substr(span.start, span.length);
    }

    std::string m_text;
    Spans m_spans;
};

} // namespace kqget
