// Reading spec JSON text into a value tree.
#pragma once

#include <cstddef>
#include <expected>
#include <string_view>

#include <nlohmann/json.hpp>

#include "spec/error.hpp"

namespace remitrax {

// Arrays and objects nested deeper than this are refused, so that no later recursive walk
// over a value tree can exhaust the stack.
inline constexpr std::size_t max_json_depth = 256;

// Parses RFC 8259 text (a leading UTF-8 byte order mark is skipped). Objects keep unique keys
// in bytewise order; of a key written twice in one object the later value wins. Integers keep
// their kind (unsigned, or signed when negative); an integer beyond both 64-bit ranges becomes
// a float. Failures are SpecError::Json with a message naming line and column: syntax errors,
// invalid UTF-8, lone surrogate escapes, numbers beyond the range of a double and nesting
// deeper than max_json_depth.
[[nodiscard]] std::expected<nlohmann::json, SpecError> read_json(std::string_view text);

}  // namespace remitrax
