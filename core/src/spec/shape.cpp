// The shape check of a spec document against the keys and value kinds each object allows.
#include "spec/shape.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "spec/render.hpp"

namespace remitrax {

namespace {

using json = nlohmann::json;
using Check = std::expected<void, SpecError>;

constexpr bool null_accepted = true;
constexpr bool null_refused = false;

constexpr std::uint64_t max_scale = 255;

std::string_view expected_word(LeafKind kind) {
    switch (kind) {
        case LeafKind::Text:
            return "a string";
        case LeafKind::Flag:
            return "a boolean";
        case LeafKind::Natural:
            return "a non-negative integer";
        case LeafKind::Scale:
            return "an integer from 0 to 255";
    }
    return "";
}

// A whole number of at least 0. The reader stores these as unsigned, but a value built in code
// may hold one as a signed integer; both count the same.
std::optional<std::uint64_t> natural(const json& value) {
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>();
    }
    if (value.is_number_integer() && value.get<std::int64_t>() >= 0) {
        return static_cast<std::uint64_t>(value.get<std::int64_t>());
    }
    return std::nullopt;
}

bool accepts(const json& value, LeafKind kind) {
    switch (kind) {
        case LeafKind::Text:
            return value.is_string();
        case LeafKind::Flag:
            return value.is_boolean();
        case LeafKind::Natural:
            return natural(value).has_value();
        case LeafKind::Scale: {
            const auto n = natural(value);
            return n && *n <= max_scale;
        }
    }
    return false;
}

// What stands where something else was expected. Numbers are told apart only where an
// integer was expected; a refused unsigned integer there can only be a scale above 255.
std::string_view found_word(const json& value, bool integer_expected) {
    switch (value.type()) {
        case json::value_t::null:
            return "null";
        case json::value_t::boolean:
            return "a boolean";
        case json::value_t::string:
            return "a string";
        case json::value_t::array:
            return "an array";
        case json::value_t::object:
            return "an object";
        case json::value_t::number_unsigned:
            return integer_expected ? "a number above 255" : "a number";
        case json::value_t::number_integer:
            if (!integer_expected) {
                return "a number";
            }
            return natural(value) ? "a number above 255" : "a negative number";
        case json::value_t::number_float: {
            if (!integer_expected) {
                return "a number";
            }
            const double v = value.get<double>();
            return v - std::trunc(v) == 0.0 ? "a floating-point number"
                                            : "a number with a fractional part";
        }
        case json::value_t::binary:
            return "binary data";
        case json::value_t::discarded:
            break;
    }
    return "a discarded value";
}

SpecError wrong_type(std::string_view path, std::string_view expected, std::string_view found,
                     const json& value) {
    return SpecError{SpecError::WrongType{std::string(path), std::string(expected),
                                          std::string(found), render_value(value)}};
}

// Appends `key` to `path` the way child() joins them, without copying the path.
void push_key(std::string& path, std::string_view key) {
    if (!path.empty()) {
        path += '.';
    }
    path += render_key(key);
}

const json* member(const json::object_t& object, std::string_view key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
}

// The member `key`, which the caller knows is present, as an object (null refused like any
// other kind); its path is left in `member_path`.
[[nodiscard]] std::expected<const json::object_t*, SpecError> object_member(
    const json::object_t& object, std::string_view path, std::string_view key,
    std::string& member_path) {
    member_path = child(path, key);
    return object_at(*member(object, key), member_path);
}

template <typename T>
[[nodiscard]] std::unexpected<SpecError> fail(const std::expected<T, SpecError>& result) {
    return std::unexpected(result.error());
}

[[nodiscard]] Check check_version(const json& value) {
    static constexpr std::array<std::string_view, 3> keys = {"segment", "element", "values"};
    const std::string path = "version";
    const auto object = object_at(value, path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& v = **object;
    if (auto r = check_keys(v, path, keys, keys); !r) {
        return r;
    }
    if (auto r = check_member(v, path, "segment", LeafKind::Text, null_refused); !r) {
        return r;
    }
    if (auto r = check_member(v, path, "element", LeafKind::Natural, null_refused); !r) {
        return r;
    }
    return check_member_texts(v, path, "values");
}

[[nodiscard]] Check check_trigger(const json::object_t& loop, const std::string& loop_path) {
    static constexpr std::array<std::string_view, 2> allowed = {"segment", "where"};
    static constexpr std::array<std::string_view, 1> required = {"segment"};
    std::string path;
    const auto object = object_member(loop, loop_path, "trigger", path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& trigger = **object;
    if (auto r = check_keys(trigger, path, allowed, required); !r) {
        return r;
    }
    if (auto r = check_member(trigger, path, "segment", LeafKind::Text, null_refused); !r) {
        return r;
    }
    return check_member_map(trigger, path);
}

[[nodiscard]] Check check_control(const json::object_t& loop, const std::string& loop_path) {
    static constexpr std::array<std::string_view, 4> keys = {"opener_element", "closer_element",
                                                             "count_element", "count"};
    if (member(loop, "control") == nullptr) {
        return {};
    }
    std::string path;
    const auto object = object_member(loop, loop_path, "control", path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& control = **object;
    if (auto r = check_keys(control, path, keys, keys); !r) {
        return r;
    }
    for (const std::string_view key : std::span(keys).first(3)) {
        if (auto r = check_member(control, path, key, LeafKind::Natural, null_refused); !r) {
            return r;
        }
    }
    return check_member(control, path, "count", LeafKind::Text, null_refused);
}

[[nodiscard]] Check check_loop(const json& value, const std::string& path) {
    static constexpr std::array<std::string_view, 5> allowed = {"parent", "trigger", "segments",
                                                                "end", "control"};
    static constexpr std::array<std::string_view, 1> required = {"trigger"};
    const auto object = object_at(value, path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& loop = **object;
    if (auto r = check_keys(loop, path, allowed, required); !r) {
        return r;
    }
    if (auto r = check_member(loop, path, "parent", LeafKind::Text, null_accepted); !r) {
        return r;
    }
    if (auto r = check_member(loop, path, "end", LeafKind::Text, null_accepted); !r) {
        return r;
    }
    if (auto r = check_member_texts(loop, path, "segments"); !r) {
        return r;
    }
    if (auto r = check_trigger(loop, path); !r) {
        return r;
    }
    return check_control(loop, path);
}

[[nodiscard]] Check check_repeat(const json::object_t& table, const std::string& table_path) {
    static constexpr std::array<std::string_view, 2> keys = {"from", "step"};
    if (member(table, "repeat") == nullptr) {
        return {};
    }
    std::string path;
    const auto object = object_member(table, table_path, "repeat", path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& repeat = **object;
    if (auto r = check_keys(repeat, path, keys, keys); !r) {
        return r;
    }
    for (const std::string_view key : keys) {
        if (auto r = check_member(repeat, path, key, LeafKind::Natural, null_refused); !r) {
            return r;
        }
    }
    return {};
}

[[nodiscard]] Check check_column(const json& value, const std::string& path) {
    static constexpr std::array<std::string_view, 7> allowed = {
        "loop", "segment", "where", "element", "component", "group_element", "segment_index"};
    const auto object = object_at(value, path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& column = **object;
    if (auto r = check_keys(column, path, allowed, {}); !r) {
        return r;
    }
    for (const std::string_view key : {"loop", "segment"}) {
        if (auto r = check_member(column, path, key, LeafKind::Text, null_accepted); !r) {
            return r;
        }
    }
    if (auto r = check_member_map(column, path); !r) {
        return r;
    }
    for (const std::string_view key : {"element", "component", "group_element"}) {
        if (auto r = check_member(column, path, key, LeafKind::Natural, null_accepted); !r) {
            return r;
        }
    }
    return check_member(column, path, "segment_index", LeafKind::Flag, null_refused);
}

[[nodiscard]] Check check_table(const json& value, const std::string& path) {
    static constexpr std::array<std::string_view, 5> allowed = {"loops", "ref", "segment", "repeat",
                                                                "columns"};
    static constexpr std::array<std::string_view, 1> required = {"loops"};
    const auto object = object_at(value, path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& table = **object;
    if (auto r = check_keys(table, path, allowed, required); !r) {
        return r;
    }
    if (auto r = check_member_texts(table, path, "loops"); !r) {
        return r;
    }
    for (const std::string_view key : {"ref", "segment"}) {
        if (auto r = check_member(table, path, key, LeafKind::Text, null_accepted); !r) {
            return r;
        }
    }
    if (auto r = check_repeat(table, path); !r) {
        return r;
    }
    if (member(table, "columns") == nullptr) {
        return {};
    }
    std::string columns_path;
    const auto columns = object_member(table, path, "columns", columns_path);
    if (!columns) {
        return fail(columns);
    }
    for (const auto& [name, column] : **columns) {
        if (auto r = check_column(column, child(columns_path, name)); !r) {
            return r;
        }
    }
    return {};
}

[[nodiscard]] Check check_segment(const json& value, const std::string& path) {
    static constexpr std::array<std::string_view, 1> allowed = {"elements"};
    const auto object = object_at(value, path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& segment = **object;
    if (auto r = check_keys(segment, path, allowed, {}); !r) {
        return r;
    }
    const json* elements = member(segment, "elements");
    if (elements == nullptr) {
        return {};
    }
    return check_elements_shape(*elements, child(path, "elements"));
}

// One element object without its components; on success, its "composite" value or null.
[[nodiscard]] std::expected<const json*, SpecError> check_element(const json& value,
                                                                  std::string_view path) {
    static constexpr std::array<std::string_view, 8> allowed = {
        "name", "type", "required", "min", "max", "scale", "codes", "composite"};
    static constexpr std::array<std::string_view, 2> required = {"name", "type"};
    const auto object = object_at(value, path);
    if (!object) {
        return fail(object);
    }
    const json::object_t& element = **object;
    if (auto r = check_keys(element, path, allowed, required); !r) {
        return fail(r);
    }
    if (auto r = check_member_texts(element, path, "codes"); !r) {
        return fail(r);
    }
    static constexpr std::array<std::pair<std::string_view, LeafKind>, 6> members = {{
        {"name", LeafKind::Text},
        {"type", LeafKind::Text},
        {"required", LeafKind::Flag},
        {"min", LeafKind::Natural},
        {"max", LeafKind::Natural},
        {"scale", LeafKind::Scale},
    }};
    for (const auto& [key, kind] : members) {
        const bool nullable = kind == LeafKind::Natural || kind == LeafKind::Scale;
        if (auto r = check_member(element, path, key, kind, nullable); !r) {
            return fail(r);
        }
    }
    return member(element, "composite");
}

}  // namespace

[[nodiscard]] std::expected<const json::object_t*, SpecError> object_at(const json& value,
                                                                        std::string_view path) {
    if (!value.is_object()) {
        return std::unexpected(SpecError{
            SpecError::NotAnObject{std::string(path), std::string(found_word(value, false))}});
    }
    return value.get_ptr<const json::object_t*>();
}

[[nodiscard]] Check check_keys(const json::object_t& object, std::string_view path,
                               std::span<const std::string_view> allowed,
                               std::span<const std::string_view> required) {
    for (const auto& [key, value] : object) {
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            return std::unexpected(SpecError{SpecError::UnknownKey{std::string(path), key}});
        }
    }
    for (const std::string_view key : required) {
        if (member(object, key) == nullptr) {
            return std::unexpected(
                SpecError{SpecError::MissingKey{std::string(path), std::string(key)}});
        }
    }
    return {};
}

[[nodiscard]] Check check_member(const json::object_t& object, std::string_view path,
                                 std::string_view key, LeafKind kind, bool null_ok) {
    const json* value = member(object, key);
    if (value == nullptr || (null_ok && value->is_null()) || accepts(*value, kind)) {
        return {};
    }
    return check_leaf(*value, child(path, key), kind);
}

[[nodiscard]] Check check_leaf(const json& value, std::string_view path, LeafKind kind) {
    if (accepts(value, kind)) {
        return {};
    }
    const bool integer = kind == LeafKind::Natural || kind == LeafKind::Scale;
    return std::unexpected(
        wrong_type(path, expected_word(kind), found_word(value, integer), value));
}

[[nodiscard]] Check check_member_map(const json::object_t& object, std::string_view path) {
    if (member(object, "where") == nullptr) {
        return {};
    }
    std::string where_path;
    const auto map = object_member(object, path, "where", where_path);
    if (!map) {
        return fail(map);
    }
    for (const auto& [key, value] : **map) {
        if (!accepts(value, LeafKind::Text)) {
            return check_leaf(value, child(where_path, key), LeafKind::Text);
        }
    }
    return {};
}

[[nodiscard]] Check check_member_texts(const json::object_t& object, std::string_view path,
                                       std::string_view key) {
    const json* value = member(object, key);
    if (value == nullptr) {
        return {};
    }
    if (!value->is_array()) {
        return std::unexpected(
            wrong_type(child(path, key), "an array of strings", found_word(*value, false), *value));
    }
    std::size_t index = 0;
    for (const json& item : *value) {
        if (!accepts(item, LeafKind::Text)) {
            return check_leaf(item, child(path, key) + "[" + std::to_string(index) + "]",
                              LeafKind::Text);
        }
        ++index;
    }
    return {};
}

[[nodiscard]] Check check_elements_shape(const json& value, std::string_view path) {
    // Composites are walked with an explicit stack, so a deeply nested document costs heap,
    // not call depth. `path` grows and shrinks with the walk; each level remembers the length
    // of its own map's path.
    struct Level {
        const json::object_t* map;
        json::object_t::const_iterator next;
        std::size_t path_size;
    };
    std::string current(path);
    const auto top = object_at(value, current);
    if (!top) {
        return fail(top);
    }
    std::vector<Level> stack{{*top, (*top)->begin(), current.size()}};
    while (!stack.empty()) {
        Level& level = stack.back();
        current.resize(level.path_size);
        if (level.next == level.map->end()) {
            stack.pop_back();
            continue;
        }
        const auto& [key, element] = *level.next;
        ++level.next;
        push_key(current, key);
        const auto composite = check_element(element, current);
        if (!composite) {
            return fail(composite);
        }
        if (*composite == nullptr) {
            continue;
        }
        push_key(current, "composite");
        const auto components = object_at(**composite, current);
        if (!components) {
            return fail(components);
        }
        stack.push_back({*components, (*components)->begin(), current.size()});
    }
    return {};
}

[[nodiscard]] std::expected<void, SpecError> check_shape(const json& document) {
    static constexpr std::array<std::string_view, 5> allowed = {"name", "loops", "segments",
                                                                "tables", "version"};
    static constexpr std::array<std::string_view, 2> required = {"name", "loops"};
    const auto root = object_at(document, "");
    if (!root) {
        return fail(root);
    }
    const json::object_t& spec = **root;
    if (auto r = check_keys(spec, "", allowed, required); !r) {
        return r;
    }
    if (auto r = check_member(spec, "", "name", LeafKind::Text, null_refused); !r) {
        return r;
    }
    if (const json* version = member(spec, "version"); version != nullptr) {
        if (auto r = check_version(*version); !r) {
            return r;
        }
    }
    const auto loops = object_at(*member(spec, "loops"), "loops");
    if (!loops) {
        return fail(loops);
    }
    for (const auto& [name, loop] : **loops) {
        if (auto r = check_loop(loop, child("loops", name)); !r) {
            return r;
        }
    }
    if (const json* tables_value = member(spec, "tables"); tables_value != nullptr) {
        const auto tables = object_at(*tables_value, "tables");
        if (!tables) {
            return fail(tables);
        }
        for (const auto& [name, table] : **tables) {
            if (auto r = check_table(table, child("tables", name)); !r) {
                return r;
            }
        }
    }
    if (const json* segments_value = member(spec, "segments"); segments_value != nullptr) {
        const auto segments = object_at(*segments_value, "segments");
        if (!segments) {
            return fail(segments);
        }
        for (const auto& [id, segment] : **segments) {
            if (auto r = check_segment(segment, child("segments", id)); !r) {
                return r;
            }
        }
    }
    return {};
}

const json::object_t& section(const json& document, std::string_view key) {
    static const json::object_t empty;
    if (!document.is_object()) {
        return empty;
    }
    const json* value = member(document.get_ref<const json::object_t&>(), key);
    if (value == nullptr || !value->is_object()) {
        return empty;
    }
    return value->get_ref<const json::object_t&>();
}

}  // namespace remitrax
