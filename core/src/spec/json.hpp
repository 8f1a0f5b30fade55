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

// Tears a value tree down from its leaves up, last children first, and leaves null behind. It
// allocates nothing, so it may run while memory is exhausted, as when std::bad_alloc unwinds: the
// JSON library's own destructor gathers the children of every array and object on a heap-allocated
// stack, and a second std::bad_alloc thrown from a destructor ends the process. A tree that may be
// dropped under memory pressure is released here first, which leaves the library's destructor only
// empty containers and leaves.
void release_json(nlohmann::json& value) noexcept;

// Releases a tree with release_json when the scope ends, however it ends. A tree moved out
// before leaves null, which costs nothing to release.
class JsonRelease {
  public:
    explicit JsonRelease(nlohmann::json& value) noexcept : value_(value) {}
    ~JsonRelease() { release_json(value_); }
    JsonRelease(const JsonRelease&) = delete;
    JsonRelease& operator=(const JsonRelease&) = delete;

  private:
    nlohmann::json& value_;
};

// A deep copy. Each container is placed in the copy before its children are copied into it,
// so a failure part way (std::bad_alloc) leaves one tree, which is released as above.
[[nodiscard]] nlohmann::json copy_json(const nlohmann::json& value);

}  // namespace remitrax
