#include "platform/content_coding.h"

#include "update/run_inputs.h"

#include <algorithm>

namespace kqget {

std::string undecodableCoding(std::string_view contentEncoding,
                              std::initializer_list<std::string_view> decodable)
{
    while (!contentEncoding.empty()) {
        const std::size_t comma = contentEncoding.find(',');
        const std::string_view coding = trimSpaces(contentEncoding.substr(0, comma), " \t");
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
