#include "platform/retry_after.h"

#include "update/run_inputs.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <span>

namespace kqget {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

// The forms, each character standing for itself but for 'a' (a day's name),
// 'A' (its long name), 'b' (a month's name) and 'd', 'y', 'h', 'm', 's': one
// digit of the day, year, hour, minute or second. Nothing else is allowed:
// no optional white space, no signs, names in their one spelling.
constexpr std::array<std::string_view, 4> kForms = {
    "a, dd b yyyy hh:mm:ss GMT", // Sun, 06 Nov 1994 08:49:37 GMT
    "A, dd-b-yy hh:mm:ss GMT",   // Sunday, 06-Nov-94 08:49:37 GMT (obsolete)
    "a b dd hh:mm:ss yyyy",      // Sun Nov 16 08:49:37 1994 (C's asctime)
    "a b  d hh:mm:ss yyyy",      // Sun Nov  6 08:49:37 1994
};

struct Fields
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The fields of `text` read in the form `form`; false when it is not in it.
bool readInForm(std::string_view text, std::string_view form, Fields& f)
{
    for (const char c : form) {
        if (c == 'a' || c == 'A' || c == 'b') {
            const std::span<const std::string_view> names =
                c == 'a'   ? std::span<const std::string_view>(kDays)
                : c == 'A' ? std::span<const std::string_view>(kLongDays)
                           : std::span<const std::string_view>(kMonths);
            const auto name = std::ranges::find_if(
                names, [text](std::string_view each) { return text.starts_with(each); });
            if (name == names.end()) {
                return false;
            }
            f.month = c == 'b' ? static_cast<int>(name - names.begin()) : f.month;
            text.remove_prefix(name->size());
            continue;
        }
        int* const field = c == 'd'   ? &f.day
                           : c == 'y' ? &f.year
                           : c == 'h' ? &f.hour
                           : c == 'm' ? &f.minute
                           : c == 's' ? &f.second
                                      : nullptr;
        if (text.empty() || (field == nullptr ? text[0] != c : text[0] < '0' || text[0] > '9')) {
            return false;
        }
        if (field != nullptr) {
            *field = *field * 10 + (text[0] - '0');
        }
        text.remove_prefix(1);
    }
    return text.empty();
}

} // namespace

std::optional<std::time_t> parseHttpDate(std::string_view text)
{
    Fields f;
    const auto form = std::ranges::find_if(kForms, [&](std::string_view each) {
        f = {};
        return readInForm(text, each, f);
    });
    if (form == kForms.end()) {
        return std::nullopt;
    }
    if (*form == kForms[1]) {
        f.year += f.year < 70 ? 2000 : 1900;
    }
    if (f.day < 1 || f.day > 31 || f.hour > 23 || f.minute > 59 || f.second > 60 || f.year < 1970) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const sys_seconds time = sys_days(year(f.year) / (f.month + 1) / f.day) + hours(f.hour) +
                             minutes(f.minute) + seconds(f.second);
    return static_cast<std::time_t>(time.time_since_epoch().count());
}

std::optional<std::chrono::seconds> retryAfterWait(std::string_view value, std::time_t now)
{
    value = trimSpaces(value, " \t");
    long long seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error == std::errc() && end == value.data() + value.size()) {
        return seconds < 0 ? std::nullopt : std::optional(std::chrono::seconds(seconds));
    }
    const std::optional<std::time_t> date = parseHttpDate(value);
    if (!date) {
        return std::nullopt;
    }
    return std::chrono::seconds(std::max<long long>(*date - now, 0));
}

} // namespace kqget
