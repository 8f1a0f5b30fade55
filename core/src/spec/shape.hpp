// The shape check of a spec document: which objects may appear, the keys each allows and
// requires, the kind of value each key takes and where null stands for an absent key. It
// looks at keys and kinds only; what the values mean is checked when the spec is compiled.
#pragma once

#include <expected>
#include <span>
#include <string_view>

#include <nlohmann/json.hpp>

#include "spec/error.hpp"

namespace remitrax {

// The kind a scalar member must have.
enum class LeafKind {
    Text,     // a string
    Flag,     // a boolean
    Natural,  // an unsigned integer of any 64-bit value
    Scale,    // an unsigned integer from 0 to 255
};

// Walks the whole document in a fixed order (root keys, name, version, loops, tables,
// segments; entries in bytewise key order) and returns the first fault: NotAnObject,
// WrongType, UnknownKey or MissingKey. Its depth of recursion does not grow with the
// nesting of composites.
[[nodiscard]] std::expected<void, SpecError> check_shape(const nlohmann::json& document);

// The members of `value` when it is an object; otherwise NotAnObject at `path`. The pointer
// is never null and points into `value`.
[[nodiscard]] std::expected<const nlohmann::json::object_t*, SpecError> object_at(
    const nlohmann::json& value, std::string_view path);

// The first key of `object` (bytewise order) outside `allowed` is UnknownKey; only then is
// the first of `required` (in its own order) that is absent reported as MissingKey.
[[nodiscard]] std::expected<void, SpecError> check_keys(const nlohmann::json::object_t& object,
                                                        std::string_view path,
                                                        std::span<const std::string_view> allowed,
                                                        std::span<const std::string_view> required);

// Ok when `key` is absent, or holds null and `null_accepted`; otherwise check_leaf on its
// value at child(path, key).
[[nodiscard]] std::expected<void, SpecError> check_member(const nlohmann::json::object_t& object,
                                                          std::string_view path,
                                                          std::string_view key, LeafKind kind,
                                                          bool null_accepted);

// Ok when `value` has `kind`; otherwise WrongType at `path`.
[[nodiscard]] std::expected<void, SpecError> check_leaf(const nlohmann::json& value,
                                                        std::string_view path, LeafKind kind);

// The "where" member of `object`, when present: an object (null refused) whose every value
// is a string.
[[nodiscard]] std::expected<void, SpecError> check_member_map(
    const nlohmann::json::object_t& object, std::string_view path);

// The member `key` of `object`, when present: an array (null refused) whose every item is a
// string; an item's path is the array's path followed by "[index]".
[[nodiscard]] std::expected<void, SpecError> check_member_texts(
    const nlohmann::json::object_t& object, std::string_view path, std::string_view key);

// An elements map at `path` and, through each element's "composite", its components.
[[nodiscard]] std::expected<void, SpecError> check_elements_shape(const nlohmann::json& value,
                                                                  std::string_view path);

// The member `key` of the root document as a map in bytewise key order; an empty map when
// the member is absent or not an object (or the root is not an object). The result refers
// into `document`, or to a static empty map.
const nlohmann::json::object_t& section(const nlohmann::json& document, std::string_view key);

}  // namespace remitrax
