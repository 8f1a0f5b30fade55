// Parsers from element text to typed values: dates, R decimals and times. They read bytes
// (no text decoding), allocate nothing, and report a value they refuse as an absent result.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/bytes.hpp"
#include "column/types.hpp"

namespace remitrax {

struct CivilDate {
    std::uint32_t year = 0;
    std::uint32_t month = 0;
    std::uint32_t day = 0;

    friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

// YYMMDD (YY below 50 is 20YY, else 19YY) or CCYYMMDD, ASCII digits only. The date must
// exist in the Gregorian calendar; year 0 is refused.
std::optional<CivilDate> civil_date(std::string_view text);

constexpr bool is_leap_year(std::uint32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The days of each month of a common year, January at 1.
inline constexpr std::array<std::uint8_t, 13> month_days = {0,  31, 28, 31, 30, 31, 30,
                                                            31, 31, 30, 31, 30, 31};

// The days of a month from 1 to 12.
constexpr std::uint32_t month_length(std::uint32_t year, std::uint32_t month) {
    return month == 2 && is_leap_year(year) ? 29 : month_days[month];
}

// Days from 1970-01-01 (day 0) to the date of the proleptic Gregorian calendar, negative
// before it. Exact for every 32-bit year with month 1 to 12; a day beyond its month counts
// on into the next. Other months give an unspecified count, never undefined behaviour. The
// dates of civil_date (years 1 to 9999) stay within -719162 and 2932896, so they fit a
// 32-bit Date cell.
inline std::int64_t days_from_civil(std::uint32_t year, std::uint32_t month, std::uint32_t day) {
    // Years are counted from March 1, so a leap day is the last day of its year and the
    // 400-year era of 146097 days repeats exactly.
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t year_of_era = y - era * 400;
    const std::int64_t m = month;
    const std::int64_t day_of_year =
        (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<std::int64_t>(day) - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    // 719468 days lead from 0000-03-01 to 1970-01-01.
    return era * 146097 + day_of_era - 719468;
}

// An R decimal: optional leading "-", digits, optional "." and at most `scale` fraction
// digits, at least one digit in all. The result counts units of 10^-scale, exactly; its
// magnitude is at most 10^38 - 1.
std::optional<Int128> parse_r(std::string_view text, std::uint8_t scale);

// The days from 1970-01-01 of a text civil_date accepts, or nothing. CCYYMMDD is read as one
// word.
inline std::optional<std::int32_t> date_days(std::string_view text);

// HHMM, HHMMSS, or HHMMSS and one or two digits of a fraction of a second, which are
// ignored. The result is the seconds since midnight.
std::optional<std::uint32_t> parse_tm(std::string_view text);

inline std::optional<std::int32_t> date_days(std::string_view text) {
#if !defined(REMITRAX_ABLATION_WORD_VALUES)
    if (text.size() == 8) {
        const bytes::Word w = bytes::load<bytes::Word>(text.data());
        if (!bytes::all_digits(w)) {
            return std::nullopt;
        }
        const bytes::DateDigits date = bytes::date_digits(w);
        // The leap year is only worked out for a 29th of February.
        if (date.year == 0 || date.month - 1 >= 12 ||
            (date.day - 1 >= month_days[date.month] &&
             !(date.month == 2 && date.day == 29 && is_leap_year(date.year)))) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(days_from_civil(date.year, date.month, date.day));
    }
#endif
    const auto date = civil_date(text);
    if (!date) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(days_from_civil(date->year, date->month, date->day));
}

}  // namespace remitrax
