#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kqget::testing {

// A request target with the scheme and host taken off the absolute form that a
// client sends to a proxy, so both forms reach the same content.
struct RequestTarget
{
    std::string_view originForm; // path and query as sent, e.g. "/a%20b?x=1"
    std::string_view path;       // still percent-encoded
    std::string_view query;      // without the '?'; empty when there is none
};

RequestTarget splitTarget(std::string_view target);

// Decodes %XX only: a '+' stays a '+', so a value reads back exactly as the
// client formed it.
std::string percentDecode(std::string_view text);

// The decoded value of the first "name=" field of a query.
std::optional<std::string> queryValue(std::string_view query, std::string_view name);

} // namespace kqget::testing
