// Segment and element definitions: what the element checks and the projector know about
// each element of a segment.
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spec/error.hpp"
#include "spec/records.hpp"

namespace remitrax {

// A 1-based position in canonical form: digits only, no sign, no leading zero, not 0, within
// 64 bits. Anything else gives nothing.
std::optional<std::uint64_t> parse_position(std::string_view text);

enum class ElementKind : std::uint8_t { AN, ID, N, R, DT, TM };

// An element's kind and its parameter byte: the implied decimals of N (0 to 9) or the scale of
// R (0 to 18); 0 for the other kinds.
struct ElementType {
    ElementKind kind = ElementKind::AN;
    std::uint8_t param = 0;

    bool is_numeric() const { return kind == ElementKind::N || kind == ElementKind::R; }
    // "AN (string)", "N2 (integer with 2 implied decimals)", "R (decimal, scale 2)", ...
    std::string to_string() const;

    friend bool operator==(const ElementType&, const ElementType&) = default;
};

struct ElementDef;
// Element (or component) definitions by 1-based position.
using SegmentDef = std::map<std::uint64_t, ElementDef>;

struct ElementDef {
    std::string name;
    ElementType type;
    bool required = false;
    std::optional<std::uint64_t> min;
    std::optional<std::uint64_t> max;  // never 0
    // Distinct and in bytewise order, so a value is found by binary search; empty when any
    // value is allowed.
    std::vector<std::string> codes;
    // Empty for a simple element.
    SegmentDef composite;
};

// Compiles the element records of one segment, or the components of one element when
// `prefix` (that element's key) is given. Records are visited in bytewise key order and the
// first refused one ends the compilation.
[[nodiscard]] std::expected<SegmentDef, SpecError> compile_elements(
    std::string_view segment, const RawElements& records,
    std::optional<std::string_view> prefix = std::nullopt);

}  // namespace remitrax
