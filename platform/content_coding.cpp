#include "platform/content_coding.h"

#include <algorithm>

namespace kqget {

namespace {

bool sameWithoutCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view kSpace = " \t";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

} // namespace

std::string undecodableCoding(std::string_view contentEncoding,
                              std::initializer_list<std::string_view> decodable)
{
    while (!contentEncoding.empty()) {
        const std::size_t comma = contentEncoding.find(',');
        const std::string_view coding = trimmed(contentEncoding.substr(0, comma));
        contentEncoding = comma == std::string_view::npos ? std::string_view()
                                                          : contentEncoding.substr(comma + 1);
        if (coding.empty() || sameWithoutCase(coding, "identity")) {
            continue;
        }
        if (std::none_of(decodable.begin(), decodable.end(),
                         [&](std::string_view known) { return sameWithoutCase(coding, known); })) {
            return std::string(coding);
        }
    }
    return {};
}

} // namespace kqget
