// Element values as typed cells: the acceptance test of each column type, the parse that
// builds the cell, and the values a segment's checks keep for the columns that read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "column/types.hpp"
#include "spec/elements.hpp"

namespace remitrax {

// One value kept from the checks of the current segment. Its positions refer to that segment
// only. A Bytes value is always empty: the text is read again from the segment when a column
// takes it, so nothing here points into a buffer that is reused.
struct Checked {
    std::optional<std::uint64_t> component;  // 1-based; absent for a whole element
    Cell value;                              // Null when the text was empty or not valid
    std::uint64_t element = 0;               // 1-based
    ColumnType column_type;
};

namespace check {

// The text as a cell of `type`, or nothing when the text is not valid for it. Binary always
// succeeds with a view of `text`. Int64 takes an optional "-" and one or more ASCII digits
// within 64 bits, unscaled; Decimal128 follows parse_r at the type's scale; Date32 counts the
// days from 1970-01-01; Time32 the seconds of the day.
std::optional<Cell> parse(ColumnType type, std::string_view text);

// Whether parse would succeed, without building the value.
bool is_valid(ColumnType type, std::string_view text);

// The length that the min and max of a definition of `type` bound: the ASCII digits of N and
// R values (signs and the decimal point do not count), the bytes of every other kind.
std::uint64_t length(ElementType type, std::string_view text);

}  // namespace check

}  // namespace remitrax
