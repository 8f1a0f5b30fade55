// Column types and the cell that carries one value of a row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "base/variant.hpp"

namespace remitrax {

// Signed 128-bit integers hold the decimals of R elements (38 digits at most).
__extension__ typedef __int128 Int128;

enum class ColumnKind : std::uint8_t { Binary, Int64, Decimal128, Date32, Time32 };

// A kind and its two parameter bytes: the implied decimals of an Int64 column (its scale),
// the precision and scale of a Decimal128 column.
struct ColumnType {
    ColumnKind kind = ColumnKind::Binary;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;

    static constexpr ColumnType binary() { return {ColumnKind::Binary, 0, 0}; }
    static constexpr ColumnType int64(std::uint8_t scale) { return {ColumnKind::Int64, 0, scale}; }
    static constexpr ColumnType decimal128(std::uint8_t precision, std::uint8_t scale) {
        return {ColumnKind::Decimal128, precision, scale};
    }
    static constexpr ColumnType date32() { return {ColumnKind::Date32, 0, 0}; }
    static constexpr ColumnType time32() { return {ColumnKind::Time32, 0, 0}; }

    // "binary", "int64", "int64 (scale 2)", "decimal128(38, 2)", "date32", "time32 (seconds)".
    std::string to_string() const;

    friend bool operator==(const ColumnType&, const ColumnType&) = default;
};

namespace cell {
struct Null {
    friend bool operator==(Null, Null) = default;
};
// A view: borrowed from the segment, a row's text buffer or a column, never owned.
using Bytes = std::string_view;
using Int = std::int64_t;
// Units of 10^-scale of the column.
struct Decimal {
    Int128 units = 0;
    friend bool operator==(Decimal, Decimal) = default;
};
// Days since 1970-01-01.
struct Date {
    std::int32_t days = 0;
    friend bool operator==(Date, Date) = default;
};
// Seconds since midnight.
struct Time {
    std::int32_t seconds = 0;
    friend bool operator==(Time, Time) = default;
};
}  // namespace cell

// One value of a row.
using Cell =
    std::variant<cell::Null, cell::Bytes, cell::Int, cell::Decimal, cell::Date, cell::Time>;

// A cell fits a column of its own kind; Null fits every column.
constexpr bool fits(const Cell& value, ColumnType type) {
    static_assert(std::variant_size_v<Cell> == 6, "every kind of cell has its case");
    switch (value.index()) {
        case index_of<cell::Null, Cell>:
            return true;
        case index_of<cell::Bytes, Cell>:
            return type.kind == ColumnKind::Binary;
        case index_of<cell::Int, Cell>:
            return type.kind == ColumnKind::Int64;
        case index_of<cell::Decimal, Cell>:
            return type.kind == ColumnKind::Decimal128;
        case index_of<cell::Date, Cell>:
            return type.kind == ColumnKind::Date32;
        case index_of<cell::Time, Cell>:
            return type.kind == ColumnKind::Time32;
    }
    return false;  // valueless
}

}  // namespace remitrax
