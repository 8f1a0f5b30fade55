// The element checks of a placed segment against its plan, with the values that columns read
// kept for the row builder.
#include "project/element_checker.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "base/bytes.hpp"
#include "base/fault.hpp"
#include "column/parse.hpp"
#include "project/values.hpp"

namespace remitrax {

namespace {

// The window of `text` that may be read: `raw` when the text lies in it.
std::string_view window_of(std::string_view text, std::string_view raw) {
    const auto offset = reinterpret_cast<std::uintptr_t>(text.data()) -
                        reinterpret_cast<std::uintptr_t>(raw.data());
    return offset <= raw.size() && text.size() <= raw.size() - offset ? raw : text;
}

}  // namespace

ElementChecker::ElementChecker(std::span<const SegmentPlan* const> plans, char component_separator)
    : checks_(plans.size()), component_separator_(component_separator) {
    std::uint32_t most = 0;
    for (std::size_t id = 0; id < plans.size(); ++id) {
        if (plans[id] != nullptr) {
            checks_[id] = compile(*plans[id]);
            most = std::max(most, plans[id]->kept);
        }
    }
    kept_.resize(most);
}

ElementChecker::ValueCheck ElementChecker::value_check(std::uint64_t position,
                                                       const ElementDef& def, ColumnType type,
                                                       const CodeSet& codes, bool keep,
                                                       std::uint32_t slot) {
    ValueCheck check;
    check.def = &def;
    check.codes = def.codes.empty() ? nullptr : &codes;
    check.min = def.min.value_or(0);
    check.max = def.max.value_or(std::numeric_limits<std::uint64_t>::max());
    check.position = position;
    check.slot = keep ? slot : no_slot;
    check.type = type;
    check.required = def.required;
    return check;
}

ElementChecker::SegmentChecks ElementChecker::compile(const SegmentPlan& plan) {
    SegmentChecks checks;
    checks.elements_begin = static_cast<std::uint32_t>(element_checks_.size());
    for (const ElementPlan& element : plan.elements) {
        ElementCheck check;
        check.value = value_check(element.position, *element.def, element.column_type,
                                  element.codes, element.keep, element.slot);
        check.max_component = element.max_component;
        check.components_begin = static_cast<std::uint32_t>(component_checks_.size());
        for (const ComponentPlan& part : element.components) {
            component_checks_.push_back(value_check(part.position, *part.def, part.column_type,
                                                    part.codes, part.keep, part.slot));
        }
        check.components_end = static_cast<std::uint32_t>(component_checks_.size());
        element_checks_.push_back(check);
    }
    checks.elements_end = static_cast<std::uint32_t>(element_checks_.size());
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
        element_checks_[e].required_from = r;
    }
    return checks;
}

void ElementChecker::report_value(Finding finding, const Segment& segment, std::uint64_t index,
                                  std::uint64_t element, std::optional<std::uint64_t> component,
                                  const ValueCheck& check, std::string_view text) {
    const ElementDef& def = *check.def;
    std::string id(segment.id());
    switch (finding) {
        case Finding::Missing:
            findings_->add(
                Rule{Rule::RequiredElementMissing{std::move(id), element, component, def.name}},
                index, element, component, {});
            return;
        case Finding::Type:
            findings_->add(
                Rule{Rule::TypeMismatch{std::move(id), element, component, def.name, def.type}},
                index, element, component, text);
            return;
        case Finding::Length:
            findings_->add(
                Rule{Rule::LengthOutOfRange{std::move(id), element, component, def.name,
                                            value::length(def.type, text), def.min, def.max}},
                index, element, component, text);
            return;
        case Finding::Code:
            findings_->add(
                Rule{Rule::CodeNotInList{std::move(id), element, component, def.name, def.codes}},
                index, element, component, text);
            return;
    }
}

void ElementChecker::report_shape(const Segment& segment, std::uint64_t index,
                                  const ElementCheck& check, const Element& data) {
    const std::uint64_t n = check.value.position;
    const std::uint64_t found = data.is_composite() ? data.components().size() : 1;
    // Plans with components declare at least one, so the extra one is a component.
    const std::uint64_t extra = check.max_component + 1;
    const std::string_view datum =
        data.is_composite() ? data.components()[extra - 1].bytes() : std::string_view{};
    findings_->add(Rule{Rule::CompositeShape{std::string(segment.id()), n, check.value.def->name,
                                             found, check.max_component}},
                   index, n, extra, datum);
}

void ElementChecker::refuse_value(const Segment& segment, std::uint64_t index,
                                  std::uint64_t element, std::optional<std::uint64_t> component,
                                  const ValueCheck& check, std::string_view text) {
    if (check.slot != no_slot) {
        kept_[check.slot].kind = Kept::Kind::Null;
    }
    report_value(Finding::Type, segment, index, element, component, check, text);
}

[[gnu::always_inline]] inline void ElementChecker::check_value(
    const Segment& segment, std::uint64_t index, std::uint64_t element,
    std::optional<std::uint64_t> component, const ValueCheck& check, std::string_view text,
    std::string_view raw) {
    if (text.empty()) {
        if (check.required) [[unlikely]] {
            report_value(Finding::Missing, segment, index, element, component, check, text);
        }
        return;
    }
    Kept* kept = nullptr;
    if (check.slot != no_slot) {
        kept = &kept_[check.slot];
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
    switch (check.type.kind) {
        case ColumnKind::Binary:
            // Text is valid for a binary column as it stands; it is kept as empty Bytes.
            keep(Kept::Kind::Bytes, 0);
            break;
        case ColumnKind::Decimal128: {
            window = window_of(text, raw);
            // Each reading keeps its own result, so the amounts of one word stay in registers.
            if (const auto word = bytes::decimal_word(text, check.type.scale, window)) {
                keep(Kept::Kind::Decimal, static_cast<std::uint64_t>(word->units),
                     word->units < 0 ? ~std::uint64_t{0} : 0);
                length = word->digits;
                break;
            }
            const auto units = parse_r(text, check.type.scale);
            if (!units) [[unlikely]] {
                refuse_value(segment, index, element, component, check, text);
                return;
            }
            keep(Kept::Kind::Decimal, static_cast<std::uint64_t>(*units),
                 static_cast<std::uint64_t>(*units >> 64));
            length = value::valid_length(check.type, text);
            break;
        }
        case ColumnKind::Date32: {
            const auto days = date_days(text);
            if (!days) [[unlikely]] {
                refuse_value(segment, index, element, component, check, text);
                return;
            }
            keep(Kept::Kind::Date, static_cast<std::uint64_t>(std::int64_t{*days}));
            break;
        }
        case ColumnKind::Int64: {
            const auto value = value::parse_int(text);
            if (!value) [[unlikely]] {
                refuse_value(segment, index, element, component, check, text);
                return;
            }
            keep(Kept::Kind::Int, static_cast<std::uint64_t>(*value));
            length = value::valid_length(check.type, text);
            break;
        }
        case ColumnKind::Time32: {
            const auto seconds = parse_tm(text);
            if (!seconds) [[unlikely]] {
                refuse_value(segment, index, element, component, check, text);
                return;
            }
            keep(Kept::Kind::Time, std::uint64_t{*seconds});
            break;
        }
    }
    // A value of the wrong length or outside its code list is reported and still kept.
    if (length < check.min || length > check.max) [[unlikely]] {
        report_value(Finding::Length, segment, index, element, component, check, text);
        return;
    }
    if (check.codes != nullptr) {
        if (window.data() == text.data()) {
            window = window_of(text, raw);
        }
        if (!check.codes->contains(text, check.def->codes, window)) [[unlikely]] {
            report_value(Finding::Code, segment, index, element, component, check, text);
        }
    }
}

void ElementChecker::check_segment(const Segment& segment, const SegmentChecks& checks,
                                   std::uint64_t index, Findings& findings) {
    ++stamp_;
    findings_ = &findings;
    const auto elements = segment.elements();
    const std::string_view raw = segment.raw();
    std::uint32_t next = checks.elements_begin;
    for (; next < checks.elements_end; ++next) {
        const ElementCheck& check = element_checks_[next];
        const std::uint64_t n = check.value.position;
        if (n > elements.size()) {
            break;
        }
        const Element* data = n >= 1 ? &elements[n - 1] : nullptr;
        if (check.components_begin == check.components_end) {
            std::string_view text;
            if (data != nullptr) {
                text = data->is_composite() ? value::leaf_text(segment, n, std::nullopt,
                                                               component_separator_, scratch_)
                                            : data->value().bytes();
            }
            // An empty value is kept as nothing: a column reading it finds no text and
            // stores null, as it would for a kept null.
            check_value(segment, index, n, std::nullopt, check.value, text, raw);
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
            if (check.value.required) {
                report_value(Finding::Missing, segment, index, n, std::nullopt, check.value, {});
            }
            continue;
        }
        const std::uint64_t found = data->is_composite() ? data->components().size() : 1;
        if (found > check.max_component) [[unlikely]] {
            report_shape(segment, index, check, *data);
        }
        for (std::uint32_t c = check.components_begin; c < check.components_end; ++c) {
            const ValueCheck& part = component_checks_[c];
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
    for (auto r = required_.begin() + element_checks_[next].required_from; r != last; ++r) {
        const ElementCheck& check = element_checks_[*r];
        report_value(Finding::Missing, segment, index, check.value.position, std::nullopt,
                     check.value, {});
    }
}

}  // namespace remitrax
