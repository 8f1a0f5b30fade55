// Reading the typed records of a spec's JSON objects, defaults filled in for absent members.
#include "spec/records.hpp"

#include <array>
#include <charconv>
#include <limits>
#include <span>
#include <string_view>
#include <type_traits>

#include "base/text.hpp"

namespace remitrax {

namespace {

using nlohmann::json;

// A field reader's result: the value read, or the message of why it was refused.
template <class T>
using Read = std::expected<T, std::string>;

// Element records nest through "composite" and are read recursively. The JSON reader's depth
// limit keeps parsed documents inside this one; it guards values built by other means.
constexpr std::size_t max_element_depth = 128;

std::string invalid_type(const json& value, std::string_view expected) {
    return "invalid type: " + describe_found(value) + ", expected " + std::string(expected);
}

std::string invalid_value(const json& value, std::string_view expected) {
    return "invalid value: " + describe_found(value) + ", expected " + std::string(expected);
}

[[nodiscard]] Read<std::string> read_string(const json& value) {
    if (!value.is_string()) {
        return std::unexpected(invalid_type(value, "a string"));
    }
    return value.get_ref<const json::string_t&>();
}

[[nodiscard]] Read<bool> read_bool(const json& value) {
    if (!value.is_boolean()) {
        return std::unexpected(invalid_type(value, "a boolean"));
    }
    return value.get<bool>();
}

// Unsigned integers up to `limit`; negative and too large integers are refused as values,
// every other kind as a type.
[[nodiscard]] Read<std::uint64_t> read_unsigned(const json& value, std::uint64_t limit,
                                                std::string_view expected) {
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n > limit) {
            return std::unexpected(invalid_value(value, expected));
        }
        return n;
    }
    if (value.is_number_integer()) {
        // A value built in code may hold a whole number of at least 0 as a signed integer.
        const auto n = value.get<std::int64_t>();
        if (n < 0 || static_cast<std::uint64_t>(n) > limit) {
            return std::unexpected(invalid_value(value, expected));
        }
        return static_cast<std::uint64_t>(n);
    }
    return std::unexpected(invalid_type(value, expected));
}

// The unsigned reader narrowed to T, which its limit keeps in range.
template <class T>
[[nodiscard]] Read<T> read_narrow(const json& value, std::string_view expected) {
    auto n = read_unsigned(value, std::numeric_limits<T>::max(), expected);
    if (!n) {
        return std::unexpected(std::move(n.error()));
    }
    return static_cast<T>(*n);
}

[[nodiscard]] Read<std::uint64_t> read_u64(const json& value) {
    return read_narrow<std::uint64_t>(value, "u64");
}

[[nodiscard]] Read<std::size_t> read_usize(const json& value) {
    return read_narrow<std::size_t>(value, "usize");
}

[[nodiscard]] Read<std::uint8_t> read_u8(const json& value) {
    return read_narrow<std::uint8_t>(value, "u8");
}

[[nodiscard]] Read<std::vector<std::string>> read_strings(const json& value) {
    if (!value.is_array()) {
        return std::unexpected(invalid_type(value, "a sequence"));
    }
    std::vector<std::string> out;
    out.reserve(value.size());
    for (const json& item : value) {
        auto text = read_string(item);
        if (!text) {
            return std::unexpected(std::move(text.error()));
        }
        out.push_back(std::move(*text));
    }
    return out;
}

[[nodiscard]] Read<std::map<std::string, std::string>> read_string_map(const json& value) {
    if (!value.is_object()) {
        return std::unexpected(invalid_type(value, "a map"));
    }
    std::map<std::string, std::string> out;
    for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
        auto text = read_string(member);
        if (!text) {
            return std::unexpected(std::move(text.error()));
        }
        out.emplace_hint(out.end(), key, std::move(*text));
    }
    return out;
}

[[nodiscard]] Read<RawMembers> read_members(const json& value) {
    if (!value.is_object()) {
        return std::unexpected(invalid_type(value, "a map"));
    }
    RawMembers out;
    for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
        out.emplace_back(key, &member);
    }
    return out;
}

// An optional field: null reads as absent, anything else as the field's type.
template <class Reader>
[[nodiscard]] auto read_optional(const json& value, Reader read)
    -> Read<std::optional<typename std::invoke_result_t<Reader, const json&>::value_type>> {
    if (value.is_null()) {
        return std::nullopt;
    }
    return read(value);
}

// A nested record read as a field: its reader error becomes this field's message.
template <class T>
[[nodiscard]] Read<T> nested(std::expected<T, ReaderError> record) {
    if (!record) {
        return std::unexpected(std::move(record.error().message));
    }
    return std::move(*record);
}

// Stores what a field reader read in the record's member.
template <class T, class U>
[[nodiscard]] std::expected<void, std::string> store(T& member, Read<U> read) {
    if (!read) {
        return std::unexpected(std::move(read.error()));
    }
    member = std::move(*read);
    return {};
}

template <class Record>
struct Field {
    std::string_view name;
    bool required;
    std::expected<void, std::string> (*read)(const json&, Record&);
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
        if (auto stored = fields[i].read(member, record); !stored) {
            return std::unexpected(ReaderError{std::move(stored.error())});
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

[[nodiscard]] Read<RawElements> read_elements(const json& value, std::size_t depth) {
    if (!value.is_object()) {
        return std::unexpected(invalid_type(value, "a map"));
    }
    RawElements out;
    for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
        auto element = nested(read_element_at(member, depth));
        if (!element) {
            return std::unexpected(std::move(element.error()));
        }
        out.push_back(RawElementEntry{key, std::move(*element)});
    }
    return out;
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
         [](const json& v, ElementInProgress& r) { return store(r.element.name, read_string(v)); }},
        {"type", true,
         [](const json& v, ElementInProgress& r) { return store(r.element.type, read_string(v)); }},
        {"required", false,
         [](const json& v, ElementInProgress& r) {
             return store(r.element.required, read_bool(v));
         }},
        {"min", false,
         [](const json& v, ElementInProgress& r) {
             return store(r.element.min, read_optional(v, read_u64));
         }},
        {"max", false,
         [](const json& v, ElementInProgress& r) {
             return store(r.element.max, read_optional(v, read_u64));
         }},
        {"scale", false,
         [](const json& v, ElementInProgress& r) {
             return store(r.element.scale, read_optional(v, read_u8));
         }},
        {"codes", false,
         [](const json& v, ElementInProgress& r) {
             return store(r.element.codes, read_optional(v, read_strings));
         }},
        {"composite", false,
         [](const json& v, ElementInProgress& r) {
             return store(r.element.composite, read_elements(v, r.depth + 1));
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
        {"name", true, [](const json& v, RawSpec& r) { return store(r.name, read_string(v)); }},
        {"loops", true, [](const json& v, RawSpec& r) { return store(r.loops, read_members(v)); }},
        {"segments", false,
         [](const json& v, RawSpec& r) { return store(r.segments, read_members(v)); }},
        {"tables", false,
         [](const json& v, RawSpec& r) { return store(r.tables, read_members(v)); }},
        {"version", false,
         [](const json& v, RawSpec& r) {
             return store(r.version,
                          read_optional(v, [](const json& w) { return nested(read_version(w)); }));
         }},
    }};
    return read_record(value, "a spec object with \"name\" and \"loops\"", fields);
}

[[nodiscard]] std::expected<RawLoop, ReaderError> read_loop(const json& value) {
    static constexpr std::array<Field<RawLoop>, 5> fields{{
        {"parent", false,
         [](const json& v, RawLoop& r) { return store(r.parent, read_optional(v, read_string)); }},
        {"trigger", true,
         [](const json& v, RawLoop& r) { return store(r.trigger, nested(read_trigger(v))); }},
        {"segments", false,
         [](const json& v, RawLoop& r) { return store(r.segments, read_strings(v)); }},
        {"end", false,
         [](const json& v, RawLoop& r) { return store(r.end, read_optional(v, read_string)); }},
        {"control", false,
         [](const json& v, RawLoop& r) {
             return store(r.control,
                          read_optional(v, [](const json& w) { return nested(read_control(w)); }));
         }},
    }};
    return read_record(value, "a loop object", fields);
}

[[nodiscard]] std::expected<RawTrigger, ReaderError> read_trigger(const json& value) {
    static constexpr std::array<Field<RawTrigger>, 2> fields{{
        {"segment", true,
         [](const json& v, RawTrigger& r) { return store(r.segment, read_string(v)); }},
        {"where", false,
         [](const json& v, RawTrigger& r) { return store(r.where, read_string_map(v)); }},
    }};
    return read_record(value, "a trigger object", fields);
}

[[nodiscard]] std::expected<RawControl, ReaderError> read_control(const json& value) {
    static constexpr std::array<Field<RawControl>, 4> fields{{
        {"opener_element", true,
         [](const json& v, RawControl& r) { return store(r.opener_element, read_usize(v)); }},
        {"closer_element", true,
         [](const json& v, RawControl& r) { return store(r.closer_element, read_usize(v)); }},
        {"count_element", true,
         [](const json& v, RawControl& r) { return store(r.count_element, read_usize(v)); }},
        {"count", true,
         [](const json& v, RawControl& r) { return store(r.count, read_string(v)); }},
    }};
    return read_record(value, "a control object", fields);
}

[[nodiscard]] std::expected<RawSegment, ReaderError> read_segment(const json& value) {
    static constexpr std::array<Field<RawSegment>, 1> fields{{
        {"elements", false,
         [](const json& v, RawSegment& r) { return store(r.elements, read_elements(v, 0)); }},
    }};
    return read_record(value, "a segment object", fields);
}

[[nodiscard]] std::expected<RawElement, ReaderError> read_element(const json& value) {
    return read_element_at(value, 0);
}

[[nodiscard]] std::expected<RawTable, ReaderError> read_table(const json& value) {
    static constexpr std::array<Field<RawTable>, 5> fields{{
        {"loops", true, [](const json& v, RawTable& r) { return store(r.loops, read_strings(v)); }},
        {"ref", false,
         [](const json& v, RawTable& r) { return store(r.ref, read_optional(v, read_string)); }},
        {"segment", false,
         [](const json& v, RawTable& r) {
             return store(r.segment, read_optional(v, read_string));
         }},
        {"repeat", false,
         [](const json& v, RawTable& r) {
             return store(r.repeat,
                          read_optional(v, [](const json& w) { return nested(read_repeat(w)); }));
         }},
        {"columns", false,
         [](const json& v, RawTable& r) { return store(r.columns, read_members(v)); }},
    }};
    return read_record(value, "a table object", fields);
}

[[nodiscard]] std::expected<RawRepeat, ReaderError> read_repeat(const json& value) {
    static constexpr std::array<Field<RawRepeat>, 2> fields{{
        {"from", true, [](const json& v, RawRepeat& r) { return store(r.from, read_u64(v)); }},
        {"step", true, [](const json& v, RawRepeat& r) { return store(r.step, read_u64(v)); }},
    }};
    return read_record(value, "a repeat object", fields);
}

[[nodiscard]] std::expected<RawColumn, ReaderError> read_column(const json& value) {
    static constexpr std::array<Field<RawColumn>, 7> fields{{
        {"loop", false,
         [](const json& v, RawColumn& r) { return store(r.loop, read_optional(v, read_string)); }},
        {"segment", false,
         [](const json& v, RawColumn& r) {
             return store(r.segment, read_optional(v, read_string));
         }},
        {"where", false,
         [](const json& v, RawColumn& r) { return store(r.where, read_string_map(v)); }},
        {"element", false,
         [](const json& v, RawColumn& r) { return store(r.element, read_optional(v, read_u64)); }},
        {"component", false,
         [](const json& v, RawColumn& r) {
             return store(r.component, read_optional(v, read_u64));
         }},
        {"group_element", false,
         [](const json& v, RawColumn& r) {
             return store(r.group_element, read_optional(v, read_u64));
         }},
        {"segment_index", false,
         [](const json& v, RawColumn& r) { return store(r.segment_index, read_bool(v)); }},
    }};
    return read_record(value, "a column object", fields);
}

[[nodiscard]] std::expected<RawVersion, ReaderError> read_version(const json& value) {
    static constexpr std::array<Field<RawVersion>, 3> fields{{
        {"segment", true,
         [](const json& v, RawVersion& r) { return store(r.segment, read_string(v)); }},
        {"element", true,
         [](const json& v, RawVersion& r) { return store(r.element, read_u64(v)); }},
        {"values", true,
         [](const json& v, RawVersion& r) { return store(r.values, read_strings(v)); }},
    }};
    return read_record(value, "a version object", fields);
}

}  // namespace remitrax
