// Element text as typed cells, the lengths a definition bounds, and the text of an element or
// component that a column or check reads.
#include "project/values.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/bytes.hpp"
#include "column/parse.hpp"

namespace remitrax::value {

using bytes::is_digit;

std::optional<std::int64_t> parse_int(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // The magnitude is gathered unsigned, where the most negative value still fits.
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    std::uint64_t magnitude = 0;
    for (const char c : text) {
        if (!is_digit(c)) {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) {
        return static_cast<std::int64_t>(magnitude);
    }
    // -(2^63) cannot be negated as a signed value; subtracting from -1 stays in range.
    return magnitude == 0 ? 0 : -1 - static_cast<std::int64_t>(magnitude - 1);
}

std::optional<Cell> parse(ColumnType type, std::string_view text) {
    switch (type.kind) {
        case ColumnKind::Binary:
            return Cell{cell::Bytes{text}};
        case ColumnKind::Int64:
            if (const auto value = parse_int(text)) {
                return Cell{cell::Int{*value}};
            }
            return std::nullopt;
        case ColumnKind::Decimal128:
            if (const auto units = parse_r(text, type.scale)) {
                return Cell{cell::Decimal{*units}};
            }
            return std::nullopt;
        case ColumnKind::Date32:
            if (const auto days = date_days(text)) {
                return Cell{cell::Date{*days}};
            }
            return std::nullopt;
        case ColumnKind::Time32:
            if (const auto seconds = parse_tm(text)) {
                return Cell{cell::Time{static_cast<std::int32_t>(*seconds)}};
            }
            return std::nullopt;
    }
    return std::nullopt;
}

std::uint64_t length(ElementType type, std::string_view text) {
    if (!type.is_numeric()) {
        return text.size();
    }
    return static_cast<std::uint64_t>(std::ranges::count_if(text, is_digit));
}

std::uint64_t valid_length(ColumnType type, std::string_view text) {
    if (type.kind != ColumnKind::Int64 && type.kind != ColumnKind::Decimal128) {
        return text.size();
    }
    std::size_t length = text.size() - (text.front() == '-' ? 1 : 0);
    if (type.kind == ColumnKind::Decimal128 &&
        std::memchr(text.data(), '.', text.size()) != nullptr) {
        --length;
    }
    return length;
}

std::string_view leaf_text(const Segment& segment, std::uint64_t element,
                           std::optional<std::uint64_t> component, char separator,
                           std::string& scratch) {
    const auto elements = segment.elements();
    if (element == 0 || element > elements.size()) {
        return {};
    }
    if (!component) {
        return *element_text(elements, element, separator, scratch);
    }
    const Element& data = elements[element - 1];
    const std::uint64_t k = *component;
    if (!data.is_composite()) {
        return k == 1 ? data.value().bytes() : std::string_view{};
    }
    const auto parts = data.components();
    return k == 0 || k > parts.size() ? std::string_view{} : parts[k - 1].bytes();
}

}  // namespace remitrax::value
