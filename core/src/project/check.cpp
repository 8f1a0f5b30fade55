#include "project/check.hpp"

#include <algorithm>
#include <cstring>
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

// Whether `text` is valid for `type`; when it is and `out` is given, the parsed cell goes
// there. Empty text is valid only as Binary. Binary text is kept as empty Bytes: kept text must
// not point into the segment or the scratch buffer, and is read again when a column takes it.
bool accept(ColumnType type, std::string_view text, Cell* out) {
    switch (type.kind) {
        case ColumnKind::Binary:
            if (out != nullptr) {
                *out = cell::Bytes{};
            }
            return true;
        case ColumnKind::Int64: {
            const auto value = parse_int(text);
            if (value && out != nullptr) {
                *out = cell::Int{*value};
            }
            return value.has_value();
        }
        case ColumnKind::Decimal128: {
            const Int128 units = decimal_units(text, type.scale);
            if (units != no_units && out != nullptr) {
                *out = cell::Decimal{units};
            }
            return units != no_units;
        }
        case ColumnKind::Date32: {
            const auto days = date_days(text);
            if (days && out != nullptr) {
                *out = cell::Date{*days};
            }
            return days.has_value();
        }
        case ColumnKind::Time32: {
            const auto seconds = parse_tm(text);
            if (seconds && out != nullptr) {
                *out = cell::Time{static_cast<std::int32_t>(*seconds)};
            }
            return seconds.has_value();
        }
    }
    return false;
}

// check::length of a text already found valid for its column type, without a pass over
// it: numbers are an optional "-" and digits, decimals with at most one point besides.
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

}  // namespace

namespace check {

std::optional<Cell> parse(ColumnType type, std::string_view text) {
    if (type.kind == ColumnKind::Binary) {
        return Cell{cell::Bytes{text}};
    }
    Cell value;
    if (!accept(type, text, &value)) {
        return std::nullopt;
    }
    return value;
}

bool is_valid(ColumnType type, std::string_view text) {
    return accept(type, text, nullptr);
}

std::uint64_t length(ElementType type, std::string_view text) {
    if (!type.is_numeric()) {
        return text.size();
    }
    return static_cast<std::uint64_t>(std::ranges::count_if(text, is_digit));
}

}  // namespace check

void Projector::report_value(Finding finding, const Segment& segment, std::uint64_t index,
                             std::uint64_t element, std::optional<std::uint64_t> component,
                             const ValueStep& step, std::string_view text) {
    const ElementDef& def = *step.def;
    std::string id(segment.id());
    switch (finding) {
        case Finding::Missing:
            push_diagnostic(
                Rule{Rule::RequiredElementMissing{std::move(id), element, component, def.name}},
                index, element, component, {});
            return;
        case Finding::Type:
            push_diagnostic(
                Rule{Rule::TypeMismatch{std::move(id), element, component, def.name, def.type}},
                index, element, component, text);
            return;
        case Finding::Length:
            push_diagnostic(
                Rule{Rule::LengthOutOfRange{std::move(id), element, component, def.name,
                                            check::length(def.type, text), def.min, def.max}},
                index, element, component, text);
            return;
        case Finding::Code:
            push_diagnostic(
                Rule{Rule::CodeNotInList{std::move(id), element, component, def.name, def.codes}},
                index, element, component, text);
            return;
    }
}

void Projector::report_shape(const Segment& segment, std::uint64_t index, const ElementStep& step,
                             const Element& data) {
    const std::uint64_t n = step.value.position;
    const std::uint64_t found = data.is_composite() ? data.components().size() : 1;
    // Plans with components declare at least one, so the extra one is a component.
    const std::uint64_t extra = step.max_component + 1;
    const std::string_view datum =
        data.is_composite() ? data.components()[extra - 1].bytes() : std::string_view{};
    push_diagnostic(Rule{Rule::CompositeShape{std::string(segment.id()), n, step.value.def->name,
                                              found, step.max_component}},
                    index, n, extra, datum);
}

void Projector::refuse_value(const Segment& segment, std::uint64_t index, std::uint64_t element,
                             std::optional<std::uint64_t> component, const ValueStep& step,
                             std::string_view text) {
    if (step.slot != no_slot) {
        kept_[step.slot].kind = Kept::Kind::Null;
    }
    report_value(Finding::Type, segment, index, element, component, step, text);
}

namespace {

// The window of `text` that may be read: `raw` when the text lies in it.
std::string_view window_of(std::string_view text, std::string_view raw) {
    const auto offset = reinterpret_cast<std::uintptr_t>(text.data()) -
                        reinterpret_cast<std::uintptr_t>(raw.data());
    return offset <= raw.size() && text.size() <= raw.size() - offset ? raw : text;
}

}  // namespace

[[gnu::always_inline]] inline void Projector::check_value(
    const Segment& segment, std::uint64_t index, std::uint64_t element,
    std::optional<std::uint64_t> component, const ValueStep& step, std::string_view text,
    std::string_view raw) {
    if (text.empty()) {
        if (step.required) [[unlikely]] {
            report_value(Finding::Missing, segment, index, element, component, step, text);
        }
        return;
    }
    Kept* kept = nullptr;
    if (step.slot != no_slot) {
        kept = &kept_[step.slot];
        kept->stamp = stamp_;
    }
    // Each kind stores its own words, so a kept value is never written through a wider type.
    const auto keep = [kept](Kept::Kind kind, std::uint64_t low, std::uint64_t high = 0) {
        if (kept != nullptr) {
            kept->low = low;
            kept->high = high;
            kept->kind = kind;
        }
    };
    std::uint64_t length = text.size();
    std::string_view window = text;
    switch (step.type.kind) {
        case ColumnKind::Binary:
            // Text is valid for a binary column as it stands; it is kept as empty Bytes.
            keep(Kept::Kind::Bytes, 0);
            break;
        case ColumnKind::Decimal128: {
            window = window_of(text, raw);
            // Each reading keeps its own result, so the amounts of one word stay in registers.
            if (std::int64_t units = 0;
                word_decimal_units(text, step.type.scale, window, units, length)) {
                keep(Kept::Kind::Decimal, static_cast<std::uint64_t>(units),
                     units < 0 ? ~std::uint64_t{0} : 0);
                break;
            }
            const Int128 units = decimal_units_counted(text, step.type.scale, length);
            if (units == no_units) [[unlikely]] {
                refuse_value(segment, index, element, component, step, text);
                return;
            }
            keep(Kept::Kind::Decimal, static_cast<std::uint64_t>(units),
                 static_cast<std::uint64_t>(units >> 64));
            break;
        }
        case ColumnKind::Date32: {
            const auto days = date_days(text);
            if (!days) [[unlikely]] {
                refuse_value(segment, index, element, component, step, text);
                return;
            }
            keep(Kept::Kind::Date, static_cast<std::uint64_t>(std::int64_t{*days}));
            break;
        }
        case ColumnKind::Int64: {
            const auto value = parse_int(text);
            if (!value) [[unlikely]] {
                refuse_value(segment, index, element, component, step, text);
                return;
            }
            keep(Kept::Kind::Int, static_cast<std::uint64_t>(*value));
            length = valid_length(step.type, text);
            break;
        }
        case ColumnKind::Time32: {
            const auto seconds = parse_tm(text);
            if (!seconds) [[unlikely]] {
                refuse_value(segment, index, element, component, step, text);
                return;
            }
            keep(Kept::Kind::Time, std::uint64_t{*seconds});
            break;
        }
    }
    // A value of the wrong length or outside its code list is reported and still kept.
    if (length < step.min || length > step.max) [[unlikely]] {
        report_value(Finding::Length, segment, index, element, component, step, text);
        return;
    }
    if (step.codes != nullptr) {
        if (window.data() == text.data()) {
            window = window_of(text, raw);
        }
        if (!step.codes->contains(text, step.def->codes, window)) [[unlikely]] {
            report_value(Finding::Code, segment, index, element, component, step, text);
        }
    }
}

void Projector::check_segment(const Segment& segment, const SegmentChecks& checks,
                              std::uint64_t index) {
    ++stamp_;
    const auto elements = segment.elements();
    const std::string_view raw = segment.raw();
    std::uint32_t next = checks.elements_begin;
    for (; next < checks.elements_end; ++next) {
        const ElementStep& step = element_steps_[next];
        const std::uint64_t n = step.value.position;
        if (n > elements.size()) {
            break;
        }
        const Element* data = n >= 1 ? &elements[n - 1] : nullptr;
        if (step.components_begin == step.components_end) {
            std::string_view text;
            if (data != nullptr) {
                text = data->is_composite() ? fill::leaf_text(segment, n, std::nullopt,
                                                              component_separator_, scratch_)
                                            : data->value().bytes();
            }
            // An empty value is kept as nothing: a column reading it finds no text and
            // stores null, as it would for a kept null.
            check_value(segment, index, n, std::nullopt, step.value, text, raw);
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
            if (step.value.required) {
                report_value(Finding::Missing, segment, index, n, std::nullopt, step.value, {});
            }
            continue;
        }
        const std::uint64_t found = data->is_composite() ? data->components().size() : 1;
        if (found > step.max_component) [[unlikely]] {
            report_shape(segment, index, step, *data);
        }
        for (std::uint32_t c = step.components_begin; c < step.components_end; ++c) {
            const ValueStep& part = component_steps_[c];
            std::string_view text;
            if (part.position <= found) {
                text = data->is_composite() ? data->components()[part.position - 1].bytes()
                                            : data->value().bytes();
            }
            check_value(segment, index, n, part.position, part, text, raw);
        }
    }
    // The planned elements after the segment's last one are all absent.
    if (next == checks.elements_end) {
        return;
    }
    const auto last = required_.begin() + checks.required_end;
    for (auto r = required_.begin() + element_steps_[next].required_from; r != last; ++r) {
        const ElementStep& step = element_steps_[*r];
        report_value(Finding::Missing, segment, index, step.value.position, std::nullopt,
                     step.value, {});
    }
}

Projector::ValueStep Projector::value_step(std::uint64_t position, const ElementDef& def,
                                           ColumnType type, const CodeSet& codes, bool keep,
                                           std::uint32_t slot) {
    ValueStep step;
    step.def = &def;
    step.codes = def.codes.empty() ? nullptr : &codes;
    step.min = def.min.value_or(0);
    step.max = def.max.value_or(std::numeric_limits<std::uint64_t>::max());
    step.position = position;
    step.slot = keep ? slot : no_slot;
    step.type = type;
    step.required = def.required;
    return step;
}

Projector::SegmentChecks Projector::compile_checks(const SegmentPlan& plan) {
    SegmentChecks checks;
    checks.elements_begin = static_cast<std::uint32_t>(element_steps_.size());
    for (const ElementPlan& element : plan.elements) {
        ElementStep step;
        step.value = value_step(element.position, *element.def, element.column_type, element.codes,
                                element.keep, element.slot);
        step.max_component = element.max_component;
        step.components_begin = static_cast<std::uint32_t>(component_steps_.size());
        for (const ComponentPlan& part : element.components) {
            component_steps_.push_back(value_step(part.position, *part.def, part.column_type,
                                                  part.codes, part.keep, part.slot));
        }
        step.components_end = static_cast<std::uint32_t>(component_steps_.size());
        element_steps_.push_back(step);
    }
    checks.elements_end = static_cast<std::uint32_t>(element_steps_.size());
    checks.required_begin = static_cast<std::uint32_t>(required_.size());
    for (const std::size_t r : plan.required) {
        required_.push_back(checks.elements_begin + static_cast<std::uint32_t>(r));
    }
    checks.required_end = static_cast<std::uint32_t>(required_.size());
    std::uint32_t r = checks.required_begin;
    for (std::uint32_t e = checks.elements_begin; e < checks.elements_end; ++e) {
        while (r < checks.required_end && required_[r] < e) {
            ++r;
        }
        element_steps_[e].required_from = r;
    }
    return checks;
}

}  // namespace remitrax
