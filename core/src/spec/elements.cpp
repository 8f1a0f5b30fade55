// Compiling the segment and element definitions of a spec, and the text form of an element
// type.
#include "spec/elements.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>
#include <utility>

namespace remitrax {

namespace {

constexpr std::uint8_t max_scale = 18;
constexpr std::uint8_t default_scale = 2;

using Reason = decltype(ElementDefError::kind);

SpecError refused(std::string_view segment, const std::string& label, Reason reason) {
    return SpecError{
        SpecError::BadElementDef{std::string(segment), label, ElementDefError{std::move(reason)}}};
}

// The type of a record, or why it cannot have one.
[[nodiscard]] std::expected<ElementType, Reason> compile_type(const RawElement& raw) {
    const std::string_view text = raw.type;
    if (text == "R") {
        const std::uint8_t scale = raw.scale.value_or(default_scale);
        if (scale > max_scale) {
            return std::unexpected(ElementDefError::ScaleAboveMaximum{scale});
        }
        return ElementType{ElementKind::R, scale};
    }
    std::optional<ElementType> type;
    if (text == "AN") {
        type = ElementType{ElementKind::AN, 0};
    } else if (text == "ID") {
        type = ElementType{ElementKind::ID, 0};
    } else if (text == "DT") {
        type = ElementType{ElementKind::DT, 0};
    } else if (text == "TM") {
        type = ElementType{ElementKind::TM, 0};
    } else if (text.size() == 2 && text[0] == 'N' && text[1] >= '0' && text[1] <= '9') {
        type = ElementType{ElementKind::N, static_cast<std::uint8_t>(text[1] - '0')};
    }
    if (!type) {
        return std::unexpected(ElementDefError::UnknownType{raw.type});
    }
    if (raw.scale) {
        return std::unexpected(ElementDefError::ScaleWithoutR{raw.type});
    }
    return *type;
}

// The stored codes, or why the list is refused.
[[nodiscard]] std::expected<std::vector<std::string>, Reason> compile_codes(
    const RawElement& raw, const ElementType& type) {
    const std::vector<std::string>& codes = *raw.codes;
    if (!raw.composite.empty()) {
        return std::unexpected(ElementDefError::CodesOnComposite{});
    }
    if (type.is_numeric()) {
        return std::unexpected(ElementDefError::CodesOnNumeric{raw.type});
    }
    if (codes.empty()) {
        return std::unexpected(ElementDefError::EmptyCodes{});
    }
    // Code to its first index.
    std::map<std::string_view, std::size_t> seen;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::string& code = codes[i];
        if (code.empty()) {
            return std::unexpected(ElementDefError::EmptyCode{i});
        }
        const std::uint64_t length = code.size();
        if ((raw.min && length < *raw.min) || (raw.max && length > *raw.max)) {
            return std::unexpected(
                ElementDefError::CodeLength{code, i, code.size(), raw.min, raw.max});
        }
        const auto [at, fresh] = seen.emplace(code, i);
        if (!fresh) {
            return std::unexpected(ElementDefError::DuplicateCode{code, at->second, i});
        }
    }
    std::vector<std::string> sorted(codes);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted;
}

}  // namespace

std::optional<std::uint64_t> parse_position(std::string_view text) {
    // from_chars takes no sign and stops at the first non-digit; the canonical form is then
    // the whole text, without a leading zero.
    std::uint64_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc{} || end != last || value == 0 || text[0] == '0') {
        return std::nullopt;
    }
    return value;
}

std::string ElementType::to_string() const {
    switch (kind) {
        case ElementKind::AN:
            return "AN (string)";
        case ElementKind::ID:
            return "ID (code)";
        case ElementKind::N: {
            const std::string d = std::to_string(param);
            return "N" + d + " (integer with " + d + " implied decimals)";
        }
        case ElementKind::R:
            return "R (decimal, scale " + std::to_string(param) + ")";
        case ElementKind::DT:
            return "DT (date CCYYMMDD or YYMMDD)";
        case ElementKind::TM:
            return "TM (time HHMM, HHMMSS or HHMMSSD..)";
    }
    return {};
}

[[nodiscard]] std::expected<SegmentDef, SpecError> compile_elements(
    std::string_view segment, const RawElements& records, std::optional<std::string_view> prefix) {
    SegmentDef out;
    // Name to the key of the first record with it.
    std::map<std::string_view, std::string_view> names;
    for (const auto& [key, raw] : records) {
        const std::string label =
            prefix ? std::string(*prefix) + ".composite." + key : std::string(key);
        const std::optional<std::uint64_t> position = parse_position(key);
        if (!position) {
            return std::unexpected(
                refused(segment, label, ElementDefError::NonCanonicalPosition{}));
        }
        if (raw.name.empty()) {
            return std::unexpected(refused(segment, label, ElementDefError::EmptyName{}));
        }
        const auto [earlier, fresh] = names.emplace(raw.name, key);
        if (!fresh) {
            return std::unexpected(
                refused(segment, label,
                        ElementDefError::DuplicateName{raw.name, std::string(earlier->second)}));
        }
        auto type = compile_type(raw);
        if (!type) {
            return std::unexpected(refused(segment, label, std::move(type.error())));
        }
        if (raw.max && *raw.max == 0) {
            return std::unexpected(refused(segment, label, ElementDefError::ZeroMax{}));
        }
        if (raw.min && raw.max && *raw.min > *raw.max) {
            return std::unexpected(
                refused(segment, label, ElementDefError::MinAboveMax{*raw.min, *raw.max}));
        }
        ElementDef def{raw.name, *type, raw.required, raw.min, raw.max, {}, {}};
        if (raw.codes) {
            auto codes = compile_codes(raw, *type);
            if (!codes) {
                return std::unexpected(refused(segment, label, std::move(codes.error())));
            }
            def.codes = std::move(*codes);
        }
        if (!raw.composite.empty()) {
            if (prefix) {
                return std::unexpected(refused(segment, label, ElementDefError::NestedComposite{}));
            }
            if (type->kind != ElementKind::AN) {
                return std::unexpected(
                    refused(segment, label, ElementDefError::CompositeOnNonAn{raw.type}));
            }
            auto components = compile_elements(segment, raw.composite, key);
            if (!components) {
                return std::unexpected(std::move(components.error()));
            }
            def.composite = std::move(*components);
        }
        out.emplace(*position, std::move(def));
    }
    return out;
}

}  // namespace remitrax
