// Column type names and the parsers from element text to dates, R decimals and times,
// checked on their edge cases and against plain references over many inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "column/parse.hpp"
#include "column/types.hpp"

namespace {

using remitrax::civil_date;
using remitrax::CivilDate;
using remitrax::ColumnType;
using remitrax::date_days;
using remitrax::days_from_civil;
using remitrax::Int128;
using remitrax::parse_r;
using remitrax::parse_tm;

// Decimal text of a 128-bit integer, "-" for negatives, the most negative one included.
std::string decimal(Int128 v) {
    __extension__ using U128 = unsigned __int128;
    U128 m = v < 0 ? U128{0} - static_cast<U128>(v) : static_cast<U128>(v);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
        m /= 10;
    } while (m != 0);
    return v < 0 ? "-" + digits : digits;
}

std::string shown(std::optional<Int128> v) {
    return v ? decimal(*v) : "none";
}

std::string ymd(unsigned y, unsigned m, unsigned d, int year_digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*u%02u%02u", year_digits,
                  y % (year_digits == 2 ? 100 : 10000), m, d);
    return buf;
}

TEST(ColumnTypeText, EveryKindAndItsParameters) {
    const struct {
        ColumnType type;
        std::string_view text;
    } cases[] = {
        {ColumnType::binary(), "binary"},
        {ColumnType::int64(0), "int64"},
        {ColumnType::int64(2), "int64 (scale 2)"},
        {ColumnType::int64(9), "int64 (scale 9)"},
        {ColumnType::decimal128(38, 2), "decimal128(38, 2)"},
        {ColumnType::decimal128(38, 0), "decimal128(38, 0)"},
        {ColumnType::decimal128(255, 18), "decimal128(255, 18)"},
        {ColumnType::date32(), "date32"},
        {ColumnType::time32(), "time32 (seconds)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.type.to_string(), c.text);
    }
}

TEST(CivilDate, EdgeCases) {
    const struct {
        std::string_view text;
        std::optional<CivilDate> date;
    } cases[] = {
        {"240229", CivilDate{2024, 2, 29}},
        {"490101", CivilDate{2049, 1, 1}},
        {"500101", CivilDate{1950, 1, 1}},
        {"991231", CivilDate{1999, 12, 31}},
        {"000229", CivilDate{2000, 2, 29}},
        {"20240229", CivilDate{2024, 2, 29}},
        {"20000229", CivilDate{2000, 2, 29}},
        {"00010101", CivilDate{1, 1, 1}},
        {"99991231", CivilDate{9999, 12, 31}},
        {"20230229", std::nullopt},
        {"19000229", std::nullopt},
        {"230229", std::nullopt},
        {"00000101", std::nullopt},
        {"2024011", std::nullopt},
        {"2024-1-1", std::nullopt},
        {"", std::nullopt},
        {"20241301", std::nullopt},
        {"20240001", std::nullopt},
        {"20240100", std::nullopt},
        {"20240431", std::nullopt},
        {"202401011", std::nullopt},
        {"2024010a", std::nullopt},
        {" 240101", std::nullopt},
        {"2024\xd9\xa1\xd9\xa1", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(civil_date(c.text), c.date) << c.text;
    }
}

TEST(DaysFromCivil, FixedPoints) {
    EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
    EXPECT_EQ(days_from_civil(1969, 12, 31), -1);
    EXPECT_EQ(days_from_civil(2024, 2, 29), 19782);
    EXPECT_EQ(days_from_civil(1, 1, 1), -719162);
    EXPECT_EQ(days_from_civil(9999, 12, 31), 2932896);
}

// Every day from 1900 to 2100, counted one by one, in both text forms.
TEST(DaysFromCivil, AgreesWithADayByDayCount) {
    const unsigned lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::int64_t count = -(70 * 365 + 17);  // 1900-01-01: 70 years, 17 leap days before 1970
    for (unsigned y = 1900; y <= 2100; ++y) {
        const bool leap = y % 4 == 0 && y != 1900 && y != 2100;
        for (unsigned m = 1; m <= 12; ++m) {
            const unsigned last = lengths[m - 1] + (m == 2 && leap ? 1 : 0);
            for (unsigned d = 1; d <= last; ++d, ++count) {
                const std::string text = ymd(y, m, d, 4);
                ASSERT_EQ(civil_date(text), (CivilDate{y, m, d})) << text;
                ASSERT_EQ(days_from_civil(y, m, d), count) << text;
                if (y >= 1950 && y <= 2049) {
                    ASSERT_EQ(civil_date(ymd(y, m, d, 2)), (CivilDate{y, m, d})) << text;
                }
            }
            for (const unsigned bad : {0u, last + 1, 99u}) {
                ASSERT_EQ(civil_date(ymd(y, m, bad, 4)), std::nullopt) << ymd(y, m, bad, 4);
            }
        }
        ASSERT_EQ(civil_date(ymd(y, 0, 1, 4)), std::nullopt);
        ASSERT_EQ(civil_date(ymd(y, 13, 1, 4)), std::nullopt);
    }
    EXPECT_EQ(count, days_from_civil(2101, 1, 1));
}

// Each year 1 to 9999 against a count of whole years, and the leap day of the centuries.
TEST(DaysFromCivil, AgreesWithAYearCountOverAllYears) {
    const auto leap = [](unsigned y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); };
    std::int64_t start = -719162;  // 0001-01-01
    for (unsigned y = 1; y <= 9999; ++y) {
        const std::int64_t days = leap(y) ? 366 : 365;
        ASSERT_EQ(days_from_civil(y, 1, 1), start) << y;
        ASSERT_EQ(days_from_civil(y, 12, 31), start + days - 1) << y;
        ASSERT_EQ(days_from_civil(y, 3, 1), start + 59 + (leap(y) ? 1 : 0)) << y;
        const std::string feb29 = ymd(y, 2, 29, 4);
        ASSERT_EQ(civil_date(feb29).has_value(), leap(y)) << feb29;
        start += days;
    }
    for (const unsigned y : {100u, 200u, 300u, 400u, 1600u, 1700u, 1800u, 2000u, 2400u, 9600u}) {
        EXPECT_EQ(civil_date(ymd(y, 2, 29, 4)).has_value(), y % 400 == 0) << y;
    }
}

TEST(DaysFromCivil, ErasRepeatAcrossTheWholeYearRange) {
    for (const std::uint32_t y : {0u, 1u, 1969u, 1970u, 100000u, 4294966895u}) {
        for (const std::uint32_t m : {1u, 2u, 3u, 12u}) {
            EXPECT_EQ(days_from_civil(y + 400, m, 1) - days_from_civil(y, m, 1), 146097)
                << y << "-" << m;
        }
    }
    EXPECT_EQ(days_from_civil(4294967295u, 12, 31) - days_from_civil(4294967295u, 1, 1), 364);
    // A day past the month's end counts on into the next month.
    EXPECT_EQ(days_from_civil(2024, 2, 30), days_from_civil(2024, 3, 1));
}

TEST(ParseR, EdgeCases) {
    const std::string nines(38, '9');
    const struct {
        std::string text;
        std::uint8_t scale;
        std::string result;
    } cases[] = {
        {"12.34", 2, "1234"},
        {"-0.05", 2, "-5"},
        {"5.", 2, "500"},
        {".5", 2, "50"},
        {"-.5", 2, "-50"},
        {"7", 2, "700"},
        {"12.5", 2, "1250"},
        {"-0", 2, "0"},
        {"007.10", 2, "710"},
        {"1.234", 2, "none"},
        {"1.2.3", 2, "none"},
        {"+1", 2, "none"},
        {"", 2, "none"},
        {"-", 2, "none"},
        {".", 2, "none"},
        {"-.", 2, "none"},
        {" 1", 2, "none"},
        {"1 ", 2, "none"},
        {"--1", 2, "none"},
        {"1-", 2, "none"},
        {"1e2", 2, "none"},
        {nines, 0, nines},
        {"-" + nines, 0, "-" + nines},
        {nines + "9", 0, "none"},
        {"1" + std::string(38, '0'), 0, "none"},
        {"170141183460469231731687303715884105728", 0, "none"},  // 2^127
        {"0000" + nines, 0, nines},
        {nines, 1, "none"},
        {"9.9", 37, "99" + std::string(36, '0')},
        {"1.5", 0, "none"},
        {"0", 255, "0"},
        {"0.000", 255, "0"},
        {"1", 38, "none"},
        {"1", 37, "1" + std::string(37, '0')},
        {"1", 39, "none"},
        {"0.1", 40, "none"},
        {"-1", 255, "none"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shown(parse_r(c.text, c.scale)), c.result) << c.text << " at " << +c.scale;
    }
}

// The value by string work alone: check the form, then line up the digits.
std::string reference_r(std::string_view text, unsigned scale) {
    const bool negative = !text.empty() && text[0] == '-';
    std::string_view rest = text.substr(negative ? 1 : 0);
    const std::size_t dot = rest.find('.');
    const std::string_view integer = rest.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
    if (text.empty() || (integer.empty() && fraction.empty()) || fraction.size() > scale) {
        return "none";
    }
    std::string digits = std::string(integer) + std::string(fraction);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return "none";
    }
    digits.append(scale - fraction.size(), '0');
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.size() > 38) {
        return "none";
    }
    if (digits.empty()) {
        return "0";
    }
    return negative ? "-" + digits : digits;
}

TEST(ParseR, AgreesWithStringArithmeticOnRandomTexts) {
    std::mt19937_64 rng(20240229);
    const auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    const std::string_view noise = "+-. x\xc3\xa9/0";
    std::size_t accepted = 0, refused = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        if (below(4) == 0) {
            text += '-';
        }
        // Digit runs cluster near the 38-digit limit so that the boundary is often met.
        const unsigned int_len = below(3) == 0 ? 30 + below(12) : below(8);
        const unsigned zeros = below(5) == 0 ? below(6) : 0;
        text.append(zeros, '0');
        for (unsigned k = 0; k < int_len; ++k) {
            text += static_cast<char>('0' + below(10));
        }
        if (below(3) != 0) {
            text += '.';
            const unsigned frac_len = below(4) == 0 ? below(25) : below(4);
            for (unsigned k = 0; k < frac_len; ++k) {
                text += static_cast<char>('0' + below(10));
            }
        }
        if (below(10) == 0 && !text.empty()) {
            text[below(static_cast<unsigned>(text.size()))] =
                noise[below(static_cast<unsigned>(noise.size()))];
        }
        const unsigned scale = below(8) == 0 ? below(256) : below(19);
        const std::string expected = reference_r(text, scale);
        ASSERT_EQ(shown(parse_r(text, static_cast<std::uint8_t>(scale))), expected)
            << text << " at " << scale;
        ++(expected == "none" ? refused : accepted);
    }
    // Both outcomes must be well represented for the comparison to mean anything.
    EXPECT_GT(accepted, 50000u);
    EXPECT_GT(refused, 50000u);
}

// Eight-digit dates are read as one word: every day of many years, every month and day number
// from 00 to 99, and every non-digit byte at every position must give what civil_date and
// days_from_civil give.
TEST(DateDays, AgreesWithCivilDateAndDaysFromCivil) {
    const auto expected = [](std::string_view text) -> std::optional<std::int32_t> {
        const auto date = civil_date(text);
        if (!date) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(days_from_civil(date->year, date->month, date->day));
    };
    std::size_t valid = 0;
    for (unsigned y = 0; y <= 9999; y += (y < 30 || y > 9970 || (y > 1890 && y < 2110)) ? 1 : 13) {
        for (unsigned m = 0; m <= 99; ++m) {
            for (unsigned d = 0; d <= 99; d += (m >= 1 && m <= 12) ? 1 : 11) {
                for (const int year_digits : {2, 4}) {
                    const std::string text = ymd(y, m, d, year_digits);
                    ASSERT_EQ(date_days(text), expected(text)) << text;
                    valid += date_days(text) ? 1u : 0u;
                }
            }
        }
    }
    EXPECT_GT(valid, 500000u);
    for (const std::string_view base : {"20240229", "240229", "00010101", "99991231"}) {
        for (std::size_t at = 0; at < base.size(); ++at) {
            for (int b = 0; b < 256; ++b) {
                std::string text(base);
                text[at] = static_cast<char>(b);
                ASSERT_EQ(date_days(text), expected(text)) << base << " at " << at << " byte " << b;
            }
        }
    }
    for (const std::string_view text : {"", "2024022", "202402291", "2024-2-9"}) {
        EXPECT_EQ(date_days(text), std::nullopt) << text;
    }
}

TEST(ParseTm, EdgeCases) {
    const struct {
        std::string_view text;
        std::optional<std::uint32_t> seconds;
    } cases[] = {
        {"1230", 45000},
        {"123059", 45059},
        {"12305999", 45059},
        {"1230599", 45059},
        {"0000", 0},
        {"235959", 86399},
        {"2400", std::nullopt},
        {"1260", std::nullopt},
        {"123060", std::nullopt},
        {"12305", std::nullopt},
        {"123059999", std::nullopt},
        {"12305x", std::nullopt},
        {"1230599x", std::nullopt},
        {"", std::nullopt},
        {"123", std::nullopt},
        {"12:30", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_tm(c.text), c.seconds) << c.text;
    }
}

TEST(ParseTm, AllFourAndSixDigitTimes) {
    char buf[16];
    for (unsigned v = 0; v < 1000000; ++v) {
        const unsigned h = v / 10000, m = v / 100 % 100, s = v % 100;
        const bool valid = h <= 23 && m <= 59 && s <= 59;
        const std::optional<std::uint32_t> expected =
            valid ? std::optional<std::uint32_t>(h * 3600 + m * 60 + s) : std::nullopt;
        std::snprintf(buf, sizeof buf, "%06u", v);
        ASSERT_EQ(parse_tm(buf), expected) << buf;
        if (v % 997 == 0) {
            std::snprintf(buf, sizeof buf, "%06u%u", v, v % 10);
            ASSERT_EQ(parse_tm(buf), expected) << buf;
            std::snprintf(buf, sizeof buf, "%06u%02u", v, v % 100);
            ASSERT_EQ(parse_tm(buf), expected) << buf;
            std::snprintf(buf, sizeof buf, "%06u%c", v, "x. -"[v % 4]);
            ASSERT_EQ(parse_tm(buf), std::nullopt) << buf;
        }
    }
    for (unsigned v = 0; v < 10000; ++v) {
        const unsigned h = v / 100, m = v % 100;
        const bool valid = h <= 23 && m <= 59;
        std::snprintf(buf, sizeof buf, "%04u", v);
        EXPECT_EQ(parse_tm(buf),
                  valid ? std::optional<std::uint32_t>(h * 3600 + m * 60) : std::nullopt)
            << buf;
    }
}

TEST(ParseTm, EveryNonDigitByteAtEveryPositionFails) {
    for (const std::string_view base : {"1230", "123059", "1230599", "12305999"}) {
        for (std::size_t at = 0; at < base.size(); ++at) {
            for (int b = 0; b < 256; ++b) {
                if (b >= '0' && b <= '9') {
                    continue;
                }
                std::string text(base);
                text[at] = static_cast<char>(b);
                ASSERT_EQ(parse_tm(text), std::nullopt) << base << " at " << at << " byte " << b;
            }
        }
    }
}

}  // namespace
