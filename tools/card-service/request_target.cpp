#include "tools/card-service/request_target.h"

#include <charconv>

namespace kqget::testing {

RequestTarget splitTarget(std::string_view target)
{
    std::string_view origin = target;
    if (const auto scheme = target.find("://");
        !target.starts_with('/') && scheme != std::string_view::npos) {
        const auto pathStart = target.find('/', scheme + 3);
        origin = pathStart == std::string_view::npos ? "/" : target.substr(pathStart);
    }
    const auto mark = origin.find('?');
    if (mark == std::string_view::npos) {
        return {origin, origin, {}};
    }
    return {origin, origin.substr(0, mark), origin.substr(mark + 1)};
}

std::string percentDecode(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size()) {
            const char* first = text.data() + i + 1;
            const auto [end, error] = std::from_chars(first, first + 2, value, 16);
            if (error == std::errc() && end == first + 2) {
                decoded.push_back(static_cast<char>(value));
                i += 2;
                continue;
            }
        }
        decoded.push_back(text[i]);
    }
    return decoded;
}

std::optional<std::string> queryValue(std::string_view query, std::string_view name)
{
    while (!query.empty()) {
        const auto end = query.find('&');
        const std::string_view field = query.substr(0, end);
        if (field.size() > name.size() && field.starts_with(name) && field[name.size()] == '=') {
            return percentDecode(field.substr(name.size() + 1));
        }
        if (end == std::string_view::npos) {
            break;
        }
        query.remove_prefix(end + 1);
    }
    return std::nullopt;
}

} // namespace kqget::testing
