// Parsers from element text to typed values: dates, R decimals and times. They read bytes
// (no text decoding), allocate nothing, and report a value they refuse as an absent result.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
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

// What parse_r gives, as a plain value: no_units for a text it refuses. A valid result never
// equals no_units, whose magnitude is beyond 38 digits. Returned in registers, so a caller on
// the hot path does not read it back from memory.
inline constexpr Int128 no_units = -(Int128{1} << 126) * 2;  // the least 128-bit value
Int128 decimal_units(std::string_view text, std::uint8_t scale);

// decimal_units of a text that lies in `window`, all of which may be read, for an amount of up
// to 8 bytes besides the sign, read as one word when the window holds 8 bytes around it: true
// with `units` and `digits` (its count of digits) set when it settles the text as valid, false
// when the text is left to decimal_units_counted. Its units fit 64 bits, so a caller gets them
// in one register.
inline bool word_decimal_units(std::string_view text, std::uint8_t scale, std::string_view window,
                               std::int64_t& units, std::uint64_t& digits);

// decimal_units, with `digits` set to the text's count of digits when it is valid.
inline Int128 decimal_units_counted(std::string_view text, std::uint8_t scale,
                                    std::uint64_t& digits);

// The days from 1970-01-01 of a text civil_date accepts, or nothing. CCYYMMDD is read as one
// word.
inline std::optional<std::int32_t> date_days(std::string_view text);

// HHMM, HHMMSS, or HHMMSS and one or two digits of a fraction of a second, which are
// ignored. The result is the seconds since midnight.
std::optional<std::uint32_t> parse_tm(std::string_view text);

// 10^0 to 10^18, the powers that fit 64 bits.
inline constexpr std::array<std::uint64_t, 19> powers_of_ten_64 = [] {
    std::array<std::uint64_t, 19> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) {
        p[i] = p[i - 1] * 10;
    }
    return p;
}();

inline bool word_decimal_units(std::string_view text, std::uint8_t scale, std::string_view window,
                               std::int64_t& units, std::uint64_t& digits) {
#if defined(REMITRAX_ABLATION_WORD_VALUES)
    // Every amount left to decimal_units, digit by digit.
    static_cast<void>(text);
    static_cast<void>(scale);
    static_cast<void>(window);
    static_cast<void>(units);
    static_cast<void>(digits);
    return false;
#else
    const bool negative = !text.empty() && text.front() == '-';
    const std::size_t n = text.size() - (negative ? 1 : 0);
    std::uint64_t w = 0;
    if (n - 1 < 8 && bytes::load_top(text.substr(negative ? 1 : 0), window, w)) {
        // The text fills the top n bytes; the bytes below it are not looked at.
        unsigned below = static_cast<unsigned>(8 - n) * 8;
        const std::uint64_t point = bytes::matches(w, bytes::repeated('.')) >> below << below;
        // The bytes before the point move up over it, without a branch on whether there is
        // one: with none, nothing moves and the fraction is empty.
        const std::uint64_t at = point >> 7;  // the low bit of the point's byte
        const std::uint64_t before = at - (at != 0 ? 1 : 0);
        w = (w & ~(before | at * 0xFF)) | ((w & before) << 8);
        const std::uint64_t fraction =
            at != 0 ? static_cast<std::uint64_t>(__builtin_clzll(point)) / 8 : 0;
        below += at != 0 ? 8 : 0;
        if ((point & (point - 1)) == 0 && below < 64 && fraction <= scale) {
            const std::uint64_t pad = (std::uint64_t{1} << below) - 1;
            w = (w & ~pad) | (bytes::repeated('0') & pad);
            const std::uint64_t count = 8 - below / 8;
            const std::uint64_t missing = scale - fraction;
            if (bytes::all_digits(w) && count + missing <= 18) {
                digits = count;
                // At most 18 digits: the magnitude stays below 2^63.
                const auto magnitude =
                    static_cast<std::int64_t>(bytes::eight_digits(w) * powers_of_ten_64[missing]);
                units = negative ? -magnitude : magnitude;
                return true;
            }
        }
    }
    return false;
#endif
}

inline Int128 decimal_units_counted(std::string_view text, std::uint8_t scale,
                                    std::uint64_t& digits) {
    const Int128 units = decimal_units(text, scale);
    if (units != no_units) {
        digits = text.size() - (text.front() == '-' ? 1 : 0) -
                 (std::memchr(text.data(), '.', text.size()) != nullptr ? 1 : 0);
    }
    return units;
}

inline std::optional<std::int32_t> date_days(std::string_view text) {
#if !defined(REMITRAX_ABLATION_WORD_VALUES)
    if (text.size() == 8) {
        const std::uint64_t w = bytes::load<bytes::Word>(text.data());
        if (bytes::all_digits(w)) {
            // Pairs of digits as numbers in bytes 0, 2, 4 and 6.
            std::uint64_t v = w - bytes::repeated('0');
            v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
            const auto year = static_cast<std::uint32_t>((v & 0xFF) * 100 + ((v >> 16) & 0xFF));
            const auto month = static_cast<std::uint32_t>((v >> 32) & 0xFF);
            const auto day = static_cast<std::uint32_t>(v >> 48);
            constexpr std::uint8_t lengths[13] = {0,  31, 29, 31, 30, 31, 30,
                                                  31, 31, 30, 31, 30, 31};
            if (year == 0 || month - 1 >= 12 || day - 1 >= lengths[month] ||
                (month == 2 && day == 29 && !is_leap_year(year))) {
                return std::nullopt;
            }
            return static_cast<std::int32_t>(days_from_civil(year, month, day));
        }
        return std::nullopt;
    }
#endif
    const auto date = civil_date(text);
    if (!date) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(days_from_civil(date->year, date->month, date->day));
}

}  // namespace remitrax
