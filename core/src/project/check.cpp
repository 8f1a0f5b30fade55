#include "project/check.hpp"

#include <algorithm>
#include <limits>

#include "column/parse.hpp"
#include "project/fill.hpp"
#include "project/projector.hpp"

namespace remitrax {

namespace {

constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// An optional "-" and one or more digits, within the signed 64-bit range.
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

std::optional<std::int32_t> parse_date(std::string_view text) {
    const auto date = civil_date(text);
    if (!date) {
        return std::nullopt;
    }
    // The years of civil_date keep the day count well inside 32 bits.
    return static_cast<std::int32_t>(days_from_civil(date->year, date->month, date->day));
}

}  // namespace

namespace check {

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
            if (const auto days = parse_date(text)) {
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

bool is_valid(ColumnType type, std::string_view text) {
    switch (type.kind) {
        case ColumnKind::Binary:
            return true;
        case ColumnKind::Int64:
            return parse_int(text).has_value();
        case ColumnKind::Decimal128:
            return parse_r(text, type.scale).has_value();
        case ColumnKind::Date32:
            return civil_date(text).has_value();
        case ColumnKind::Time32:
            return parse_tm(text).has_value();
    }
    return false;
}

std::uint64_t length(ElementType type, std::string_view text) {
    if (!type.is_numeric()) {
        return text.size();
    }
    return static_cast<std::uint64_t>(std::ranges::count_if(text, is_digit));
}

}  // namespace check

Cell Projector::check_value(const Segment& segment, std::uint64_t index, std::uint64_t element,
                            std::optional<std::uint64_t> component, const ElementDef& def,
                            const ValueCheck& plan, std::string_view text) {
    if (text.empty()) {
        if (def.required) {
            push_diagnostic(Rule{Rule::RequiredElementMissing{std::string(segment.id()), element,
                                                              component, def.name}},
                            index, element, component, {});
        }
        return cell::Null{};
    }
    Cell value = cell::Null{};
    bool valid = false;
    if (plan.type.kind == ColumnKind::Binary) {
        // Kept text must not point into the segment or the scratch buffer.
        if (plan.keep) {
            value = cell::Bytes{};
        }
        valid = true;
    } else if (plan.keep) {
        if (auto parsed = check::parse(plan.type, text)) {
            value = *parsed;
            valid = true;
        }
    } else {
        valid = check::is_valid(plan.type, text);
    }
    if (!valid) {
        push_diagnostic(Rule{Rule::TypeMismatch{std::string(segment.id()), element, component,
                                                def.name, def.type}},
                        index, element, component, text);
        return cell::Null{};
    }
    const std::uint64_t length = check::length(def.type, text);
    if ((def.min && length < *def.min) || (def.max && length > *def.max)) {
        push_diagnostic(Rule{Rule::LengthOutOfRange{std::string(segment.id()), element, component,
                                                    def.name, length, def.min, def.max}},
                        index, element, component, text);
        return value;
    }
    if (!def.codes.empty() && !plan.codes.contains(text, def.codes)) {
        push_diagnostic(Rule{Rule::CodeNotInList{std::string(segment.id()), element, component,
                                                 def.name, def.codes}},
                        index, element, component, text);
    }
    return value;
}

void Projector::check_segment(const Segment& segment, const SegmentPlan& plan,
                              std::uint64_t index) {
    checked_plan_ = &plan;
    ++stamp_;
    const auto elements = segment.elements();
    std::size_t next = 0;
    for (; next < plan.elements.size(); ++next) {
        const ElementPlan& element = plan.elements[next];
        const std::uint64_t n = element.position;
        if (n > elements.size()) {
            break;
        }
        const ElementDef& def = *element.def;
        const Element* data = n >= 1 && n <= elements.size() ? &elements[n - 1] : nullptr;
        if (element.components.empty()) {
            std::string_view text;
            if (data != nullptr) {
                text = data->is_composite() ? fill::leaf_text(segment, n, std::nullopt,
                                                              component_separator_, scratch_)
                                            : data->value().bytes();
            }
            // An empty value is kept as nothing: a column reading it finds no text and
            // stores null, as it would for a kept null.
            if (text.empty()) {
                if (def.required) {
                    push_diagnostic(Rule{Rule::RequiredElementMissing{std::string(segment.id()), n,
                                                                      std::nullopt, def.name}},
                                    index, n, std::nullopt, {});
                }
                continue;
            }
            const Cell value =
                check_value(segment, index, n, std::nullopt, def,
                            {element.column_type, element.codes, element.keep}, text);
            if (element.keep) {
                kept_[element.slot] = {value, stamp_};
            }
            continue;
        }
        bool present = false;
        if (data != nullptr) {
            if (data->is_composite()) {
                present = std::ranges::any_of(
                    data->components(), [](const Value& part) { return !part.bytes().empty(); });
            } else {
                present = !data->value().bytes().empty();
            }
        }
        if (!present) {
            if (def.required) {
                push_diagnostic(Rule{Rule::RequiredElementMissing{std::string(segment.id()), n,
                                                                  std::nullopt, def.name}},
                                index, n, std::nullopt, {});
            }
            continue;
        }
        const std::uint64_t found = data->is_composite() ? data->components().size() : 1;
        if (found > element.max_component) {
            // Plans with components declare at least one, so the extra one is a component.
            const std::uint64_t extra = element.max_component + 1;
            const std::string_view datum =
                data->is_composite() ? data->components()[extra - 1].bytes() : std::string_view{};
            push_diagnostic(Rule{Rule::CompositeShape{std::string(segment.id()), n, def.name, found,
                                                      element.max_component}},
                            index, n, extra, datum);
        }
        for (const ComponentPlan& part : element.components) {
            std::string_view text;
            if (part.position <= found) {
                text = data->is_composite() ? data->components()[part.position - 1].bytes()
                                            : data->value().bytes();
            }
            const Cell value = check_value(segment, index, n, part.position, *part.def,
                                           {part.column_type, part.codes, part.keep}, text);
            if (part.keep && !text.empty()) {
                kept_[part.slot] = {value, stamp_};
            }
        }
    }
    // The planned elements after the segment's last one are all absent.
    for (auto it = std::ranges::lower_bound(plan.required, next); it != plan.required.end(); ++it) {
        const ElementPlan& element = plan.elements[*it];
        push_diagnostic(
            Rule{Rule::RequiredElementMissing{std::string(segment.id()), element.position,
                                              std::nullopt, element.def->name}},
            index, element.position, std::nullopt, {});
    }
}

}  // namespace remitrax
