#include "platform/http_date.h"

#include <array>
#include <string_view>

namespace kqget {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
constexpr long long kSecondsPerDay = 86400;

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

// Reads the grammar's pieces off the front of the text, exactly: no
// optional white space, no signs, names in their one spelling.
class Reader
{
public:
    explicit Reader(std::string_view text) : m_rest(text) {}

    bool literal(std::string_view expected)
    {
        if (!m_rest.starts_with(expected)) {
            return false;
        }
        m_rest.remove_prefix(expected.size());
        return true;
    }
    // Exactly `count` digits.
    bool digits(std::size_t count, int& value)
    {
        if (m_rest.size() < count) {
            return false;
        }
        value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (m_rest[i] < '0' || m_rest[i] > '9') {
                return false;
            }
            value = value * 10 + (m_rest[i] - '0');
        }
        m_rest.remove_prefix(count);
        return true;
    }
    template <std::size_t N> bool oneOf(const std::array<std::string_view, N>& names, int& index)
    {
        for (std::size_t i = 0; i < N; ++i) {
            if (literal(names[i])) {
                index = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }
    bool timeOfDay(int& hour, int& minute, int& second)
    {
        return digits(2, hour) && literal(":") && digits(2, minute) && literal(":") &&
               digits(2, second);
    }
    bool atEnd() const { return m_rest.empty(); }

private:
    std::string_view m_rest;
};

struct Fields
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Sun, 06 Nov 1994 08:49:37 GMT
bool imfFixdate(std::string_view text, Fields& f)
{
    Reader r(text);
    int weekday = 0;
    return r.oneOf(kDays, weekday) && r.literal(", ") && r.digits(2, f.day) && r.literal(" ") &&
           r.oneOf(kMonths, f.month) && r.literal(" ") && r.digits(4, f.year) && r.literal(" ") &&
           r.timeOfDay(f.hour, f.minute, f.second) && r.literal(" GMT") && r.atEnd();
}

// Sunday, 06-Nov-94 08:49:37 GMT
bool rfc850Date(std::string_view text, Fields& f)
{
    Reader r(text);
    int weekday = 0;
    if (!(r.oneOf(kLongDays, weekday) && r.literal(", ") && r.digits(2, f.day) && r.literal("-") &&
          r.oneOf(kMonths, f.month) && r.literal("-") && r.digits(2, f.year) && r.literal(" ") &&
          r.timeOfDay(f.hour, f.minute, f.second) && r.literal(" GMT") && r.atEnd())) {
        return false;
    }
    f.year += f.year < 70 ? 2000 : 1900;
    return true;
}

// Sun Nov  6 08:49:37 1994
bool asctimeDate(std::string_view text, Fields& f)
{
    Reader r(text);
    int weekday = 0;
    if (!(r.oneOf(kDays, weekday) && r.literal(" ") && r.oneOf(kMonths, f.month) &&
          r.literal(" "))) {
        return false;
    }
    if (!(r.literal(" ") ? r.digits(1, f.day) : r.digits(2, f.day))) {
        return false;
    }
    return r.literal(" ") && r.timeOfDay(f.hour, f.minute, f.second) && r.literal(" ") &&
           r.digits(4, f.year) && r.atEnd();
}

} // namespace

std::optional<std::time_t> parseHttpDate(std::string_view text)
{
    Fields f;
    if (!imfFixdate(text, f) && !rfc850Date(text, f) && !asctimeDate(text, f)) {
        return std::nullopt;
    }
    if (f.day < 1 || f.day > 31 || f.hour > 23 || f.minute > 59 || f.second > 60 || f.year < 1970) {
        return std::nullopt;
    }
    const long long days = daysFromCivil(f.year, f.month + 1, f.day);
    return static_cast<std::time_t>(days * kSecondsPerDay + f.hour * 3600LL + f.minute * 60LL +
                                    f.second);
}

} // namespace kqget
