// Column data: the Arrow layout of the buffers, checking, appending, reading back, rendering
// and taking the rows of one column.
#include <gtest/gtest.h>

#include "base/fault.hpp"
#include "base/text.hpp"
#include "column/column.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace remitrax {

namespace {

__extension__ typedef unsigned __int128 UInt128;
constexpr Int128 kInt128Min = static_cast<Int128>(static_cast<UInt128>(1) << 127);

std::vector<std::uint8_t> bytes_of(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    return {p, p + size};
}

// Cells of each kind, in the order of ColumnKind, and a column type of each kind.
const ColumnType kTypes[] = {ColumnType::binary(), ColumnType::int64(3),
                             ColumnType::decimal128(38, 2), ColumnType::date32(),
                             ColumnType::time32()};
const Cell kOwn[] = {cell::Bytes("x"), cell::Int{-1}, cell::Decimal{5}, cell::Date{-3},
                     cell::Time{7}};

TEST(ColumnData, ValidityBitmapIsLsbFirstWithExactlyCeilLenOver8Bytes) {
    // value, null, value, null, null, value, value, value, null
    ColumnData column(ColumnType::int64(0));
    const bool pattern[] = {true, false, true, false, false, true, true, true, false};
    for (const bool valid : pattern) {
        if (valid) {
            column.push_checked(cell::Int{7});
        } else {
            column.push_null();
        }
    }
    EXPECT_EQ(column.validity, (std::vector<std::uint8_t>{0xE5, 0x00}));
    EXPECT_EQ(column.len, 9u);
    EXPECT_EQ(column.null_count(), 4u);

    // Every kind, all rows valid, up to 17 rows: the bits past len stay 0.
    for (std::size_t k = 0; k < 5; ++k) {
        ColumnData c(kTypes[k]);
        for (std::size_t len = 1; len <= 17; ++len) {
            c.push_checked(kOwn[k]);
            ASSERT_EQ(c.validity.size(), (len + 7) / 8) << k << " len " << len;
            const unsigned last = len % 8 == 0 ? 0xFFu : (1u << len % 8) - 1;
            EXPECT_EQ(c.validity.back(), last) << k << " len " << len;
        }
        EXPECT_EQ(c.null_count(), 0u);
    }
}

TEST(ColumnData, BinaryHoldsInt32OffsetsFromZeroAndContiguousData) {
    ColumnData column(ColumnType::binary());
    const auto& binary = std::get<ColumnData::Binary>(column.values);
    EXPECT_EQ(binary.offsets, (std::vector<std::int32_t>{0}));

    column.push_checked(cell::Bytes("AB"));
    column.push_null();
    column.push_checked(cell::Bytes("C"));
    EXPECT_EQ(binary.offsets, (std::vector<std::int32_t>{0, 2, 2, 3}));
    EXPECT_EQ(std::string_view(binary.data.data(), binary.data.size()), "ABC");
    EXPECT_EQ(column.get(0), std::optional<Cell>(cell::Bytes("AB")));
    EXPECT_EQ(column.get(1), std::optional<Cell>(cell::Null{}));
    EXPECT_EQ(column.get(2), std::optional<Cell>(cell::Bytes("C")));
    EXPECT_EQ(column.get(3), std::nullopt);

    // The bytes are borrowed from the column, not copied.
    const auto c = std::get<cell::Bytes>(*column.get(2));
    EXPECT_EQ(c.data(), binary.data.data() + 2);

    // An empty value is a valid empty span, not a null.
    column.push_checked(cell::Bytes(""));
    EXPECT_EQ(binary.offsets.back(), 3);
    EXPECT_EQ(column.get(3), std::optional<Cell>(cell::Bytes("")));
    EXPECT_EQ(column.null_count(), 1u);
}

TEST(ColumnData, FixedWidthValuesAreContiguousLittleEndianWithZeroForNulls) {
    ColumnData date(ColumnType::date32());
    date.push_checked(cell::Date{0x01020304});
    date.push_null();
    date.push_checked(cell::Date{-2});
    const auto& days = std::get<ColumnData::Date32>(date.values).values;
    EXPECT_EQ(
        bytes_of(days.data(), days.size() * 4),
        (std::vector<std::uint8_t>{0x04, 0x03, 0x02, 0x01, 0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}));

    ColumnData decimal(ColumnType::decimal128(38, 2));
    decimal.push_checked(cell::Decimal{-1});
    decimal.push_null();
    const auto& units = std::get<ColumnData::Decimal128>(decimal.values).values;
    std::vector<std::uint8_t> expected(32, 0);  // -1 in two's complement, then a null's 0
    std::fill_n(expected.begin(), 16, std::uint8_t{0xFF});
    EXPECT_EQ(bytes_of(units.data(), units.size() * 16), expected);
}

TEST(ColumnData, CheckRefusesBinaryValuesReaching2Pow31Bytes) {
    // The refusal depends on the column's data length, given here without holding 2 GB.
    struct Case {
        std::size_t data_length;
        std::string_view value;
        std::size_t too_long;  // 0: accepted
    };
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    const Case cases[] = {
        {2'147'483'647, "A", 2'147'483'648},
        {2'147'483'646, "A", 0},
        {2'147'483'647, "", 0},
        {2'147'483'640, "ABCDEFGH", 2'147'483'648},
        {max, "A", max},
        {max - 1, "ABCDE", max},  // the sum saturates
    };
    for (const Case& c : cases) {
        const auto result = ColumnData::check_cell(ColumnType::binary(), c.data_length, c.value);
        ASSERT_EQ(result.has_value(), c.too_long == 0) << c.data_length << " + " << c.value;
        if (c.too_long != 0) {
            EXPECT_EQ(std::get<CheckError::TooLong>(result.error().kind).length, c.too_long);
        }
    }

    // On a column: a value spanning reserved address space, whose bytes a refusal never reads.
    const std::size_t size = 2'147'483'647;
    void* huge = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(huge, MAP_FAILED);
    const cell::Bytes value(static_cast<const char*>(huge), size);
    ColumnData column(ColumnType::binary());
    EXPECT_TRUE(column.check(value).has_value());
    column.push_checked(cell::Bytes("A"));
    const auto refused = column.check(value);
    // A caller that appends without checking gets a fault rather than broken offsets.
    EXPECT_THROW(column.push_checked(value), InternalFault);
    munmap(huge, size);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(std::get<CheckError::TooLong>(refused.error().kind).length, 2'147'483'648u);
    EXPECT_EQ(column.len, 1u);
    EXPECT_EQ(std::get<ColumnData::Binary>(column.values).offsets,
              (std::vector<std::int32_t>{0, 1}));
}

TEST(ColumnData, CheckAcceptsNullAndOwnKindAndShowsMismatches) {
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_TRUE(ColumnData(kTypes[k]).check(cell::Null{}).has_value()) << k;
        for (std::size_t j = 0; j < 5; ++j) {
            EXPECT_EQ(ColumnData(kTypes[k]).check(kOwn[j]).has_value(), j == k) << k << ", " << j;
        }
    }

    const std::string a32(32, 'a');
    const std::string a39 = a32 + "bcdefgh";
    const std::string a33 = a32 + "b";
    struct Case {
        Cell value;
        ColumnType column;
        std::string found;
        std::string found_type;
    };
    const Case cases[] = {
        {cell::Int{20240229}, ColumnType::date32(), "20240229", "int64"},
        {cell::Int{std::numeric_limits<std::int64_t>::min()}, ColumnType::binary(),
         "-9223372036854775808", "int64"},
        {cell::Decimal{-12345}, ColumnType::int64(2), "-12345", "decimal128"},
        {cell::Decimal{kInt128Min}, ColumnType::time32(),
         "-170141183460469231731687303715884105728", "decimal128"},
        {cell::Date{-1}, ColumnType::time32(), "-1", "date32"},
        {cell::Time{86400}, ColumnType::decimal128(38, 0), "86400", "time32"},
        {cell::Bytes(""), ColumnType::int64(0), "\"\"", "binary"},
        {cell::Bytes("a\"b\\\xFF"), ColumnType::date32(), "\"a\\\"b\\\\\\xFF\"", "binary"},
        // Long values: the first 32 bytes and "...".
        {cell::Bytes(a32), ColumnType::int64(0), "\"" + a32 + "\"", "binary"},
        {cell::Bytes(a39), ColumnType::int64(0), "\"" + a32 + "\"...", "binary"},
        {cell::Bytes(a33), ColumnType::int64(0), "\"" + a32 + "\"...", "binary"},
    };
    for (const Case& c : cases) {
        const auto result = ColumnData(c.column).check(c.value);
        ASSERT_FALSE(result.has_value()) << c.found;
        const auto* error = std::get_if<CheckError::Mismatch>(&result.error().kind);
        ASSERT_NE(error, nullptr) << c.found;
        EXPECT_EQ(error->found, c.found);
        EXPECT_EQ(error->found_type, c.found_type) << c.found;
        EXPECT_EQ(error->expected, c.column) << c.found;
    }
}

TEST(ColumnData, MismatchCutsLongTextBeforeASplitCharacter) {
    struct Case {
        std::string value;
        std::size_t kept;  // bytes shown before the closing quote
    };
    const std::string a = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
    const Case cases[] = {
        {a.substr(0, 31) + "\xC3\xA9", 31},  // é split after its lead byte
        {a.substr(0, 30) + "\xE2\x82\xAC"
                           "b",
         30},                                        // € split after two bytes
        {a.substr(0, 29) + "\xF0\x9F\x98\x80", 29},  // a 4-byte character, lead at 29
        {a.substr(0, 30) + "\xC3\xA9\xC3\xA9", 32},  // é ends at the cut
        {a.substr(0, 28) + "\xF0\x9F\x98\x80"
                           "x",
         32},                                            // the 33rd byte starts a character
        {a.substr(0, 29) + "\x80\x80\x80\x80", 32},      // no lead byte within reach
        {a.substr(0, 28) + "\xF0\x80\x80\x80\x80", 32},  // lead byte four back: too far
        {a.substr(0, 32) + "\xC3\xA9", 32},
    };
    for (const Case& c : cases) {
        const auto result = ColumnData(ColumnType::int64(0)).check(cell::Bytes(c.value));
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(std::get<CheckError::Mismatch>(result.error().kind).found,
                  quoted(std::string_view(c.value).substr(0, c.kept)) + "...")
            << testing::PrintToString(c.value);
    }
}

TEST(ColumnData, AppendsOfAnotherKindAreFaultsThatLeaveTheColumnAlone) {
    ColumnData binary(ColumnType::binary());
    binary.push_checked(cell::Bytes("AB"));
    EXPECT_THROW(binary.push_checked(cell::Int{5}), InternalFault);
    EXPECT_THROW(binary.push_int(5), InternalFault);
    binary.push_checked(cell::Null{});
    EXPECT_EQ(binary.len, 2u);
    EXPECT_EQ(binary.validity, (std::vector<std::uint8_t>{0x01}));
    EXPECT_EQ(std::get<ColumnData::Binary>(binary.values).offsets,
              (std::vector<std::int32_t>{0, 2, 2}));
    EXPECT_EQ(binary.get(1), std::optional<Cell>(cell::Null{}));

    ColumnData decimal(ColumnType::decimal128(38, 2));
    EXPECT_THROW(decimal.push_checked(cell::Date{9}), InternalFault);
    EXPECT_THROW(decimal.push_date(9), InternalFault);
    EXPECT_FALSE(decimal.push_bytes("9"));
    decimal.push_checked(cell::Decimal{9});
    EXPECT_EQ(decimal.validity, (std::vector<std::uint8_t>{0x01}));
    EXPECT_EQ(std::get<ColumnData::Decimal128>(decimal.values).values, (std::vector<Int128>{9}));
}

TEST(ColumnData, GetGivesNothingForStorageThatDoesNotHoldTheRow) {
    const auto filled = [](ColumnType type, const Cell& value) {
        ColumnData column(type);
        column.push_checked(value);
        column.push_checked(value);
        return column;
    };
    ColumnData no_validity = filled(ColumnType::binary(), cell::Bytes("AB"));
    no_validity.validity.clear();
    EXPECT_EQ(no_validity.get(0), std::nullopt);
    EXPECT_EQ(no_validity.render(0), std::nullopt);
    for (std::size_t k = 1; k < 5; ++k) {  // one value short
        ColumnData c = filled(kTypes[k], kOwn[k]);
        std::visit(
            [](auto& v) {
                if constexpr (requires { v.values; }) {
                    v.values.pop_back();
                }
            },
            c.values);
        EXPECT_EQ(c.get(0), std::optional<Cell>(kOwn[k])) << k;
        EXPECT_EQ(c.get(1), std::nullopt) << k;
    }
    // Two rows over the data "ABAB".
    struct Offsets {
        std::vector<std::int32_t> offsets;
        bool row0;
        bool row1;
    };
    const Offsets broken[] = {
        {{0, 2}, true, false},       // too few offsets for row 1
        {{0, -1, 4}, false, false},  // a negative offset ends row 0 and starts row 1
        {{-1, 2, 4}, false, true},   // negative start
        {{0, 3, 2}, true, false},    // decreasing pair
        {{0, 2, 5}, true, false},    // end beyond the data
        {{0, 4, 4}, true, true},
    };
    for (const Offsets& c : broken) {
        ColumnData column = filled(ColumnType::binary(), cell::Bytes("AB"));
        std::get<ColumnData::Binary>(column.values).offsets = c.offsets;
        EXPECT_EQ(column.get(0).has_value(), c.row0) << testing::PrintToString(c.offsets);
        EXPECT_EQ(column.get(1).has_value(), c.row1) << testing::PrintToString(c.offsets);
    }
}

TEST(ColumnData, NullCountIsLenMinusSetBitsFlooredAtZero) {
    ColumnData column(ColumnType::time32());
    EXPECT_EQ(column.null_count(), 0u);
    for (int i = 0; i < 10; ++i) {
        column.push_null();
    }
    EXPECT_EQ(column.null_count(), 10u);
    column.validity = {0xFF, 0xFF, 0xFF};  // more set bits than rows
    EXPECT_EQ(column.null_count(), 0u);
}

TEST(ColumnData, RenderShowsEveryCellKind) {
    struct Case {
        ColumnType type;
        Cell value;
        std::string expected;
    };
    const Case cases[] = {
        {ColumnType::binary(), cell::Null{}, "\xE2\x88\x85"},
        {ColumnType::binary(), cell::Bytes("ABC"), "ABC"},
        {ColumnType::binary(), cell::Bytes(""), ""},
        {ColumnType::binary(),
         cell::Bytes("a\xFF"
                     "b\xC3"),
         "a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD"},
        {ColumnType::int64(0), cell::Int{-42}, "-42"},
        {ColumnType::int64(2), cell::Int{1234}, "1234"},
        {ColumnType::int64(0), cell::Int{std::numeric_limits<std::int64_t>::min()},
         "-9223372036854775808"},
        {ColumnType::decimal128(38, 2), cell::Decimal{12345}, "123.45"},
        {ColumnType::decimal128(38, 2), cell::Decimal{5}, "0.05"},
        {ColumnType::decimal128(38, 2), cell::Decimal{-5}, "-0.05"},
        {ColumnType::decimal128(38, 2), cell::Decimal{-100}, "-1.00"},
        {ColumnType::decimal128(38, 0), cell::Decimal{0}, "0"},
        {ColumnType::decimal128(38, 0), cell::Decimal{-7}, "-7"},
        {ColumnType::decimal128(38, 18), cell::Decimal{1}, "0.000000000000000001"},
        {ColumnType::decimal128(38, 0), cell::Decimal{kInt128Min},
         "-170141183460469231731687303715884105728"},
        {ColumnType::decimal128(38, 3), cell::Decimal{kInt128Min},
         "-170141183460469231731687303715884105.728"},
        {ColumnType::date32(), cell::Date{0}, "1970-01-01"},
        {ColumnType::date32(), cell::Date{-1}, "1969-12-31"},
        {ColumnType::date32(), cell::Date{19782}, "2024-02-29"},
        {ColumnType::date32(), cell::Date{-25509}, "1900-02-28"},
        {ColumnType::date32(), cell::Date{-719162}, "0001-01-01"},
        {ColumnType::date32(), cell::Date{-719528}, "0000-01-01"},
        {ColumnType::date32(), cell::Date{-719529}, "-001-12-31"},
        {ColumnType::date32(), cell::Date{2'146'764'179}, "5879610-09-09"},
        {ColumnType::date32(), cell::Date{2'146'764'180}, "date32(2146764180)"},
        {ColumnType::date32(), cell::Date{2'147'483'647}, "date32(2147483647)"},
        {ColumnType::date32(), cell::Date{-2'147'483'647 - 1}, "-5877641-06-23"},
        {ColumnType::time32(), cell::Time{0}, "00:00:00"},
        {ColumnType::time32(), cell::Time{45059}, "12:30:59"},
        {ColumnType::time32(), cell::Time{86399}, "23:59:59"},
        {ColumnType::time32(), cell::Time{86400}, "time32(86400)"},
        {ColumnType::time32(), cell::Time{-1}, "time32(-1)"},
    };
    for (const Case& c : cases) {
        ColumnData column(c.type);
        column.push_checked(c.value);
        EXPECT_EQ(column.render(0), std::optional<std::string>(c.expected)) << c.expected;
        EXPECT_EQ(column.render(1), std::nullopt);
    }
}

TEST(ColumnData, RenderDecimalWritesEveryMagnitudeAtItsScale) {
    constexpr Int128 kInt128Max = std::numeric_limits<Int128>::max();
    EXPECT_EQ(render_decimal(0, 2), "0.00");
    EXPECT_EQ(render_decimal(-5, 2), "-0.05");
    EXPECT_EQ(render_decimal(12345, 2), "123.45");
    EXPECT_EQ(render_decimal(7, 0), "7");
    EXPECT_EQ(render_decimal(-7, 0), "-7");
    EXPECT_EQ(render_decimal(100, 2), "1.00");
    EXPECT_EQ(render_decimal(5, 18), "0.000000000000000005");
    EXPECT_EQ(render_decimal(kInt128Max, 0), "170141183460469231731687303715884105727");
    EXPECT_EQ(render_decimal(kInt128Min, 0), "-170141183460469231731687303715884105728");
    EXPECT_EQ(render_decimal(kInt128Min, 38), "-1.70141183460469231731687303715884105728");
}

TEST(ColumnData, TakeReturnsAllRowsAndLeavesAnEmptyColumnOfTheSameType) {
    ColumnData column(ColumnType::decimal128(38, 2));
    column.push_checked(cell::Decimal{12345});
    column.push_null();
    column.push_checked(cell::Decimal{-5});

    const ColumnData taken = column.take();
    EXPECT_EQ(taken.type(), ColumnType::decimal128(38, 2));
    EXPECT_EQ(taken.len, 3u);
    EXPECT_EQ(taken.render(0), std::optional<std::string>("123.45"));
    EXPECT_EQ(taken.get(1), std::optional<Cell>(cell::Null{}));
    EXPECT_EQ(taken.render(2), std::optional<std::string>("-0.05"));

    EXPECT_EQ(column.type(), ColumnType::decimal128(38, 2));
    EXPECT_EQ(column.len, 0u);
    EXPECT_TRUE(column.validity.empty());
    EXPECT_TRUE(std::get<ColumnData::Decimal128>(column.values).values.empty());
    EXPECT_EQ(column.get(0), std::nullopt);

    ColumnData binary(ColumnType::binary());
    binary.push_checked(cell::Bytes("AB"));
    const ColumnData taken_binary = binary.take();
    EXPECT_EQ(taken_binary.get(0), std::optional<Cell>(cell::Bytes("AB")));
    EXPECT_EQ(std::get<ColumnData::Binary>(binary.values).offsets, (std::vector<std::int32_t>{0}));
    EXPECT_TRUE(std::get<ColumnData::Binary>(binary.values).data.empty());
}

TEST(ColumnData, ClearDropsEveryRowAndGivesBackRoomFarBeyondThem) {
    for (std::size_t k = 0; k < std::size(kTypes); ++k) {
        ColumnData column(kTypes[k]);
        for (int i = 0; i < 9; ++i) {
            column.push_checked(kOwn[k]);
            column.push_null();
        }
        column.clear();
        EXPECT_EQ(column.type(), kTypes[k]);
        EXPECT_EQ(column.len, 0u);
        EXPECT_TRUE(column.validity.empty());
        EXPECT_EQ(column.get(0), std::nullopt);
        if (const auto* binary = std::get_if<ColumnData::Binary>(&column.values)) {
            EXPECT_EQ(binary->offsets, (std::vector<std::int32_t>{0}));
            EXPECT_TRUE(binary->data.empty());
        }
        // The cleared column grows again like a new one.
        column.push_null();
        column.push_checked(kOwn[k]);
        EXPECT_EQ(column.len, 2u);
        EXPECT_EQ(column.validity, (std::vector<std::uint8_t>{0x02}));
        EXPECT_EQ(column.get(1), std::optional<Cell>(kOwn[k]));
    }

    // Room for about as many rows as were dropped stays; after a stretch of rows far smaller
    // than the room, the room goes back.
    ColumnData amounts(ColumnType::int64(2));
    const auto& values = std::get<ColumnData::Int64>(amounts.values).values;
    for (int i = 0; i < 100'000; ++i) {
        amounts.push_checked(cell::Int{i});
    }
    const std::size_t room = values.capacity();
    amounts.clear();
    EXPECT_EQ(values.capacity(), room);
    amounts.push_checked(cell::Int{1});
    amounts.clear();
    EXPECT_LT(values.capacity(), room);
    EXPECT_LT(amounts.validity.capacity(), std::size_t{100'000 / 8});
}

}  // namespace

}  // namespace remitrax
