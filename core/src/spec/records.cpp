// Reading the typed records of a spec's JSON objects, defaults filled in for absent members.
#include "spec/records.hpp"

#include <array>
#include <charconv>
#include <span>
#include <string_view>

#include "base/text.hpp"

namespace remitrax {

namespace {

using nlohmann::json;

// A field reader's failure: the message alone.
using Fault = std::optional<std::string>;

// Element records nest through "composite" and are read recursively. The JSON reader's depth
// limit keeps parsed documents inside this one; it guards values built by other means.
constexpr std::size_t max_element_depth = 128;

std::string invalid_type(const json& value, std::string_view expected) {
    return "invalid type: " + describe_found(value) + ", expected " + std::string(expected);
}

std::string invalid_value(const json& value, std::string_view expected) {
    return "invalid value: " + describe_found(value) + ", expected " + std::string(expected);
}

Fault read_string(const json& value, std::string& out) {
    if (!value.is_string()) {
        return invalid_type(value, "a string");
    }
    out = value.get_ref<const json::string_t&>();
    return std::nullopt;
}

Fault read_bool(const json& value, bool& out) {
    if (!value.is_boolean()) {
        return invalid_type(value, "a boolean");
    }
    out = value.get<bool>();
    return std::nullopt;
}

// Unsigned integers up to `limit`; negative and too large integers are refused as values,
// every other kind as a type.
Fault read_unsigned(const json& value, std::uint64_t limit, std::string_view expected,
                    std::uint64_t& out) {
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n > limit) {
            return invalid_value(value, expected);
        }
        out = n;
        return std::nullopt;
    }
    if (value.is_number_integer()) {
        // A value built in code may hold a whole number of at least 0 as a signed integer.
        const auto n = value.get<std::int64_t>();
        if (n < 0 || static_cast<std::uint64_t>(n) > limit) {
            return invalid_value(value, expected);
        }
        out = static_cast<std::uint64_t>(n);
        return std::nullopt;
    }
    return invalid_type(value, expected);
}

Fault read_u64(const json& value, std::uint64_t& out) {
    return read_unsigned(value, UINT64_MAX, "u64", out);
}

Fault read_usize(const json& value, std::size_t& out) {
    std::uint64_t n = 0;
    if (Fault f = read_unsigned(value, SIZE_MAX, "usize", n)) {
        return f;
    }
    out = static_cast<std::size_t>(n);
    return std::nullopt;
}

Fault read_u8(const json& value, std::uint8_t& out) {
    std::uint64_t n = 0;
    if (Fault f = read_unsigned(value, UINT8_MAX, "u8", n)) {
        return f;
    }
    out = static_cast<std::uint8_t>(n);
    return std::nullopt;
}

Fault read_strings(const json& value, std::vector<std::string>& out) {
    if (!value.is_array()) {
        return invalid_type(value, "a sequence");
    }
    out.clear();
    out.reserve(value.size());
    for (const json& item : value) {
        out.emplace_back();
        if (Fault f = read_string(item, out.back())) {
            return f;
        }
    }
    return std::nullopt;
}

Fault read_string_map(const json& value, std::map<std::string, std::string>& out) {
    if (!value.is_object()) {
        return invalid_type(value, "a map");
    }
    out.clear();
    for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
        std::string text;
        if (Fault f = read_string(member, text)) {
            return f;
        }
        out.emplace_hint(out.end(), key, std::move(text));
    }
    return std::nullopt;
}

Fault read_members(const json& value, RawMembers& out) {
    if (!value.is_object()) {
        return invalid_type(value, "a map");
    }
    out.clear();
    for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
        out.emplace_back(key, &member);
    }
    return std::nullopt;
}

// An optional field: null reads as absent, anything else as the field's type.
template <class T, class Read>
Fault read_optional(const json& value, std::optional<T>& out, Read read) {
    if (value.is_null()) {
        out.reset();
        return std::nullopt;
    }
    T item{};
    if (Fault f = read(value, item)) {
        return f;
    }
    out = std::move(item);
    return std::nullopt;
}

// A nested record read as a field: its reader error becomes this field's fault.
template <class T, class Read>
Fault read_nested(const json& value, T& out, Read read) {
    auto record = read(value);
    if (!record) {
        return std::move(record.error().message);
    }
    out = std::move(*record);
    return std::nullopt;
}

template <class Record>
struct Field {
    std::string_view name;
    bool required;
    Fault (*read)(const json&, Record&);
};

std::string unknown_field(std::string_view key, std::span<const std::string_view> names) {
    std::string out = "unknown field `" + std::string(key) + "`, expected ";
    if (names.size() > 2) {
        out += "one of ";
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out += names.size() == 2 ? " or " : ", ";
        }
        out += '`';
        out += names[i];
        out += '`';
    }
    return out;
}

// Reads a closed record: members in key order, each known key by its field reader, the first
// fault ending the read; then the first required field that was absent, in field order.
template <class Record, std::size_t N>
[[nodiscard]] std::expected<Record, ReaderError> read_record(
    const json& value, std::string_view expected, const std::array<Field<Record>, N>& fields,
    Record record = {}) {
    if (!value.is_object()) {
        return std::unexpected(ReaderError{invalid_type(value, expected)});
    }
    std::array<bool, N> seen{};
    for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
        std::size_t i = 0;
        while (i < N && fields[i].name != key) {
            ++i;
        }
        if (i == N) {
            std::array<std::string_view, N> names{};
            for (std::size_t j = 0; j < N; ++j) {
                names[j] = fields[j].name;
            }
            return std::unexpected(ReaderError{unknown_field(key, names)});
        }
        seen[i] = true;
        if (Fault f = fields[i].read(member, record)) {
            return std::unexpected(ReaderError{std::move(*f)});
        }
    }
    for (std::size_t i = 0; i < N; ++i) {
        if (fields[i].required && !seen[i]) {
            return std::unexpected(
                ReaderError{"missing field `" + std::string(fields[i].name) + "`"});
        }
    }
    return record;
}

[[nodiscard]] std::expected<RawElement, ReaderError> read_element_at(const json& value,
                                                                     std::size_t depth);

Fault read_elements(const json& value, RawElements& out, std::size_t depth) {
    if (!value.is_object()) {
        return invalid_type(value, "a map");
    }
    out.clear();
    for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
        auto element = read_element_at(member, depth);
        if (!element) {
            return std::move(element.error().message);
        }
        out.push_back(RawElementEntry{key, std::move(*element)});
    }
    return std::nullopt;
}

// An element record being read, with its nesting depth for the composite's components.
struct ElementInProgress {
    RawElement element;
    std::size_t depth = 0;
};

[[nodiscard]] std::expected<RawElement, ReaderError> read_element_at(const json& value,
                                                                     std::size_t depth) {
    if (depth >= max_element_depth) {
        return std::unexpected(ReaderError{"recursion limit exceeded"});
    }
    static constexpr std::array<Field<ElementInProgress>, 8> fields{{
        {"name", true,
         [](const json& v, ElementInProgress& r) { return read_string(v, r.element.name); }},
        {"type", true,
         [](const json& v, ElementInProgress& r) { return read_string(v, r.element.type); }},
        {"required", false,
         [](const json& v, ElementInProgress& r) { return read_bool(v, r.element.required); }},
        {"min", false,
         [](const json& v, ElementInProgress& r) {
             return read_optional(v, r.element.min, read_u64);
         }},
        {"max", false,
         [](const json& v, ElementInProgress& r) {
             return read_optional(v, r.element.max, read_u64);
         }},
        {"scale", false,
         [](const json& v, ElementInProgress& r) {
             return read_optional(v, r.element.scale, read_u8);
         }},
        {"codes", false,
         [](const json& v, ElementInProgress& r) {
             return read_optional(v, r.element.codes, read_strings);
         }},
        {"composite", false,
         [](const json& v, ElementInProgress& r) {
             return read_elements(v, r.element.composite, r.depth + 1);
         }},
    }};
    auto record = read_record(value, "an element object", fields, ElementInProgress{{}, depth});
    if (!record) {
        return std::unexpected(std::move(record.error()));
    }
    return std::move(record->element);
}

}  // namespace

std::string describe_found(const json& value) {
    switch (value.type()) {
        case json::value_t::null:
            return "null";
        case json::value_t::boolean:
            return value.get<bool>() ? "boolean `true`" : "boolean `false`";
        case json::value_t::number_unsigned:
            return "integer `" + std::to_string(value.get<std::uint64_t>()) + "`";
        case json::value_t::number_integer:
            return "integer `" + std::to_string(value.get<std::int64_t>()) + "`";
        case json::value_t::number_float: {
            // The shortest text that reads back as the same number, never with an exponent,
            // and with a decimal point.
            std::array<char, 400> buffer{};
            const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                                 value.get<double>(), std::chars_format::fixed);
            std::string text(buffer.data(), ec == std::errc{} ? end : buffer.data());
            if (text.find('.') == std::string::npos) {
                text += ".0";
            }
            return "floating point `" + text + "`";
        }
        case json::value_t::string:
            return "string " + quoted(value.get_ref<const json::string_t&>());
        case json::value_t::array:
            return "sequence";
        case json::value_t::object:
            return "map";
        case json::value_t::binary:
            return "byte array";
        case json::value_t::discarded:
            break;
    }
    return "unit value";
}

[[nodiscard]] std::expected<RawSpec, ReaderError> read_spec(const json& value) {
    static constexpr std::array<Field<RawSpec>, 5> fields{{
        {"name", true, [](const json& v, RawSpec& r) { return read_string(v, r.name); }},
        {"loops", true, [](const json& v, RawSpec& r) { return read_members(v, r.loops); }},
        {"segments", false, [](const json& v, RawSpec& r) { return read_members(v, r.segments); }},
        {"tables", false, [](const json& v, RawSpec& r) { return read_members(v, r.tables); }},
        {"version", false,
         [](const json& v, RawSpec& r) {
             return read_optional(v, r.version, [](const json& w, RawVersion& out) {
                 return read_nested(w, out, read_version);
             });
         }},
    }};
    return read_record(value, "a spec object with \"name\" and \"loops\"", fields);
}

[[nodiscard]] std::expected<RawLoop, ReaderError> read_loop(const json& value) {
    static constexpr std::array<Field<RawLoop>, 5> fields{{
        {"parent", false,
         [](const json& v, RawLoop& r) { return read_optional(v, r.parent, read_string); }},
        {"trigger", true,
         [](const json& v, RawLoop& r) { return read_nested(v, r.trigger, read_trigger); }},
        {"segments", false, [](const json& v, RawLoop& r) { return read_strings(v, r.segments); }},
        {"end", false,
         [](const json& v, RawLoop& r) { return read_optional(v, r.end, read_string); }},
        {"control", false,
         [](const json& v, RawLoop& r) {
             return read_optional(v, r.control, [](const json& w, RawControl& out) {
                 return read_nested(w, out, read_control);
             });
         }},
    }};
    return read_record(value, "a loop object", fields);
}

[[nodiscard]] std::expected<RawTrigger, ReaderError> read_trigger(const json& value) {
    static constexpr std::array<Field<RawTrigger>, 2> fields{{
        {"segment", true, [](const json& v, RawTrigger& r) { return read_string(v, r.segment); }},
        {"where", false, [](const json& v, RawTrigger& r) { return read_string_map(v, r.where); }},
    }};
    return read_record(value, "a trigger object", fields);
}

[[nodiscard]] std::expected<RawControl, ReaderError> read_control(const json& value) {
    static constexpr std::array<Field<RawControl>, 4> fields{{
        {"opener_element", true,
         [](const json& v, RawControl& r) { return read_usize(v, r.opener_element); }},
        {"closer_element", true,
         [](const json& v, RawControl& r) { return read_usize(v, r.closer_element); }},
        {"count_element", true,
         [](const json& v, RawControl& r) { return read_usize(v, r.count_element); }},
        {"count", true, [](const json& v, RawControl& r) { return read_string(v, r.count); }},
    }};
    return read_record(value, "a control object", fields);
}

[[nodiscard]] std::expected<RawSegment, ReaderError> read_segment(const json& value) {
    static constexpr std::array<Field<RawSegment>, 1> fields{{
        {"elements", false,
         [](const json& v, RawSegment& r) { return read_elements(v, r.elements, 0); }},
    }};
    return read_record(value, "a segment object", fields);
}

[[nodiscard]] std::expected<RawElement, ReaderError> read_element(const json& value) {
    return read_element_at(value, 0);
}

[[nodiscard]] std::expected<RawTable, ReaderError> read_table(const json& value) {
    static constexpr std::array<Field<RawTable>, 5> fields{{
        {"loops", true, [](const json& v, RawTable& r) { return read_strings(v, r.loops); }},
        {"ref", false,
         [](const json& v, RawTable& r) { return read_optional(v, r.ref, read_string); }},
        {"segment", false,
         [](const json& v, RawTable& r) { return read_optional(v, r.segment, read_string); }},
        {"repeat", false,
         [](const json& v, RawTable& r) {
             return read_optional(v, r.repeat, [](const json& w, RawRepeat& out) {
                 return read_nested(w, out, read_repeat);
             });
         }},
        {"columns", false, [](const json& v, RawTable& r) { return read_members(v, r.columns); }},
    }};
    return read_record(value, "a table object", fields);
}

[[nodiscard]] std::expected<RawRepeat, ReaderError> read_repeat(const json& value) {
    static constexpr std::array<Field<RawRepeat>, 2> fields{{
        {"from", true, [](const json& v, RawRepeat& r) { return read_u64(v, r.from); }},
        {"step", true, [](const json& v, RawRepeat& r) { return read_u64(v, r.step); }},
    }};
    return read_record(value, "a repeat object", fields);
}

[[nodiscard]] std::expected<RawColumn, ReaderError> read_column(const json& value) {
    static constexpr std::array<Field<RawColumn>, 7> fields{{
        {"loop", false,
         [](const json& v, RawColumn& r) { return read_optional(v, r.loop, read_string); }},
        {"segment", false,
         [](const json& v, RawColumn& r) { return read_optional(v, r.segment, read_string); }},
        {"where", false, [](const json& v, RawColumn& r) { return read_string_map(v, r.where); }},
        {"element", false,
         [](const json& v, RawColumn& r) { return read_optional(v, r.element, read_u64); }},
        {"component", false,
         [](const json& v, RawColumn& r) { return read_optional(v, r.component, read_u64); }},
        {"group_element", false,
         [](const json& v, RawColumn& r) { return read_optional(v, r.group_element, read_u64); }},
        {"segment_index", false,
         [](const json& v, RawColumn& r) { return read_bool(v, r.segment_index); }},
    }};
    return read_record(value, "a column object", fields);
}

[[nodiscard]] std::expected<RawVersion, ReaderError> read_version(const json& value) {
    static constexpr std::array<Field<RawVersion>, 3> fields{{
        {"segment", true, [](const json& v, RawVersion& r) { return read_string(v, r.segment); }},
        {"element", true, [](const json& v, RawVersion& r) { return read_u64(v, r.element); }},
        {"values", true, [](const json& v, RawVersion& r) { return read_strings(v, r.values); }},
    }};
    return read_record(value, "a version object", fields);
}

}  // namespace remitrax
