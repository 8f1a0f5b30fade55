// Element text as typed cells: the parse that turns a value into the cell of its column type,
// and the length that a definition's bounds measure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "column/types.hpp"
#include "spec/elements.hpp"
#include "x12/segment.hpp"

namespace remitrax::value {

// The text as a cell of `type`, or nothing when the text is not valid for it. Binary always
// succeeds with a view of `text`. Int64 takes an optional "-" and one or more ASCII digits
// within 64 bits, unscaled; Decimal128 follows parse_r at the type's scale; Date32 counts the
// days from 1970-01-01; Time32 the seconds of the day.
std::optional<Cell> parse(ColumnType type, std::string_view text);

// An optional "-" and one or more ASCII digits, within the signed 64-bit range.
std::optional<std::int64_t> parse_int(std::string_view text);

// The length that the min and max of a definition of `type` bound: the ASCII digits of N and
// R values (signs and the decimal point do not count), the bytes of every other kind.
std::uint64_t length(ElementType type, std::string_view text);

// length of a text already found valid for its column type, without a pass over it: numbers
// are an optional "-" and digits, decimals with at most one point besides.
std::uint64_t valid_length(ColumnType type, std::string_view text);

// The text of element `element` (1-based), or of one of its components: a composite read
// whole is joined by `separator` in `scratch`, and the result may be a view of it. An absent
// element or component and an empty value all give empty text. Component 1 of a simple
// element is its value.
std::string_view leaf_text(const Segment& segment, std::uint64_t element,
                           std::optional<std::uint64_t> component, char separator,
                           std::string& scratch);

}  // namespace remitrax::value
