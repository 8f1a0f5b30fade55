// Text forms of keys, paths, JSON values and table chains in spec messages and diagnostics.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace remitrax {

// A key (loop name, path member, table name) as shown to people: unchanged, or as a JSON
// string when it is empty or holds white space (the Unicode White_Space set), "#", "." or
// "/". Bytes that are not valid UTF-8 count as no white space and are copied as they are.
std::string render_key(std::string_view key);

// The path of a member: render_key(key) when `path` is empty, else path "." render_key(key).
std::string child(std::string_view path, std::string_view key);

// A short text for a JSON value: "" for null, "{n} items" for an array, "{n} members" for
// an object, and the compact JSON text of a boolean, number or string.
std::string render_value(const nlohmann::json& value);

// Table names joined by "/", each through render_key; "no table" for none.
std::string render_chain(std::span<const std::string> names);

}  // namespace remitrax
