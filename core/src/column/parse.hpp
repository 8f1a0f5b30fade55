// Parsers from element text to typed values: dates, R decimals and times. They read bytes
// (no text decoding), allocate nothing, and report a value they refuse as an absent result.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

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

// Days from 1970-01-01 (day 0) to the date of the proleptic Gregorian calendar, negative
// before it. Exact for every 32-bit year with month 1 to 12; a day beyond its month counts
// on into the next. Other months give an unspecified count, never undefined behaviour. The
// dates of civil_date (years 1 to 9999) stay within -719162 and 2932896, so they fit a
// 32-bit Date cell.
std::int64_t days_from_civil(std::uint32_t year, std::uint32_t month, std::uint32_t day);

// An R decimal: optional leading "-", digits, optional "." and at most `scale` fraction
// digits, at least one digit in all. The result counts units of 10^-scale, exactly; its
// magnitude is at most 10^38 - 1.
std::optional<Int128> parse_r(std::string_view text, std::uint8_t scale);

// What parse_r gives, as a plain value: no_units for a text it refuses. A valid result never
// equals no_units, whose magnitude is beyond 38 digits. Returned in registers, so a caller on
// the hot path does not read it back from memory.
inline constexpr Int128 no_units = -(Int128{1} << 126) * 2;  // the least 128-bit value
Int128 decimal_units(std::string_view text, std::uint8_t scale);

// HHMM, HHMMSS, or HHMMSS and one or two digits of a fraction of a second, which are
// ignored. The result is the seconds since midnight.
std::optional<std::uint32_t> parse_tm(std::string_view text);

}  // namespace remitrax
