#include "platform/http_date.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace kqget {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr long long kSecondsPerDay = 86400;

std::optional<int> monthOf(const char* name)
{
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (kMonths[i] == name) {
            return static_cast<int>(i) + 1;
        }
    }
    return std::nullopt;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(long long year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Fields
{
    char month[4] = {};
    int year = 0, day = 0, hour = 0, minute = 0, second = 0;
    int consumed = -1;
};

} // namespace

std::optional<std::time_t> parseHttpDate(const std::string& text)
{
    const int length = static_cast<int>(text.size());
    const char* s = text.c_str();
    Fields f;
    char weekday[10] = {};
    bool parsed =
        std::sscanf(s, "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", weekday, &f.day, f.month,
                    &f.year, &f.hour, &f.minute, &f.second, &f.consumed) == 7 &&
        f.consumed == length;
    if (!parsed) {
        f.consumed = -1;
        parsed = std::sscanf(s, "%9[A-Za-z], %2d-%3[A-Za-z]-%2d %2d:%2d:%2d GMT%n", weekday, &f.day,
                             f.month, &f.year, &f.hour, &f.minute, &f.second, &f.consumed) == 7 &&
                 f.consumed == length;
        f.year += f.year < 70 ? 2000 : 1900;
    }
    if (!parsed) {
        f.consumed = -1;
        parsed = std::sscanf(s, "%3[A-Za-z] %3[A-Za-z] %2d %2d:%2d:%2d %4d%n", weekday, f.month,
                             &f.day, &f.hour, &f.minute, &f.second, &f.year, &f.consumed) == 7 &&
                 f.consumed == length;
    }
    const std::optional<int> month = monthOf(f.month);
    if (!parsed || !month || f.day < 1 || f.day > 31 || f.hour > 23 || f.minute > 59 ||
        f.second > 60 || f.year < 1970) {
        return std::nullopt;
    }
    const long long days = daysFromCivil(f.year, *month, f.day);
    return static_cast<std::time_t>(days * kSecondsPerDay + f.hour * 3600LL + f.minute * 60LL +
                                    f.second);
}

} // namespace kqget
