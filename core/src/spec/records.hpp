// Typed records read from a spec's JSON objects, before anything is compiled. Each record
// holds the values as written, with absent members replaced by their defaults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "spec/error.hpp"

namespace remitrax {

// Members of an object that are read later, one record each: the key and a view of the value
// inside the document, which must outlive the record. In bytewise key order.
using RawMembers = std::vector<std::pair<std::string, const nlohmann::json*>>;

struct RawVersion {
    std::string segment;
    std::uint64_t element = 0;
    std::vector<std::string> values;
};

struct RawSpec {
    std::string name;
    RawMembers loops;
    RawMembers segments;
    RawMembers tables;
    std::optional<RawVersion> version;
};

struct RawTrigger {
    std::string segment;
    std::map<std::string, std::string> where;
};

struct RawControl {
    std::size_t opener_element = 0;
    std::size_t closer_element = 0;
    std::size_t count_element = 0;
    std::string count;
};

struct RawLoop {
    std::optional<std::string> parent;
    RawTrigger trigger;
    std::vector<std::string> segments;
    std::optional<std::string> end;
    std::optional<RawControl> control;
};

struct RawElementEntry;
// Element or component records by position text, in bytewise key order. The entries are a
// struct declared after RawElement rather than std::pair<std::string, RawElement>: with clang,
// instantiating that pair checks whether RawElement is default-constructible, which needs the
// vector of the very pair being instantiated, and clang refuses the incomplete pair. A plain
// struct has no such checks, and std::vector allows an element type that is incomplete where
// the vector is declared.
using RawElements = std::vector<RawElementEntry>;

struct RawElement {
    std::string name;
    std::string type;
    bool required = false;
    std::optional<std::uint64_t> min;
    std::optional<std::uint64_t> max;
    std::optional<std::uint8_t> scale;
    // An empty list stays an empty list, distinct from none.
    std::optional<std::vector<std::string>> codes;
    RawElements composite;
};

struct RawElementEntry {
    std::string key;
    RawElement element;
};

struct RawSegment {
    RawElements elements;
};

struct RawRepeat {
    std::uint64_t from = 0;
    std::uint64_t step = 0;
};

struct RawTable {
    std::vector<std::string> loops;
    std::optional<std::string> ref;
    std::optional<std::string> segment;
    std::optional<RawRepeat> repeat;
    RawMembers columns;
};

struct RawColumn {
    std::optional<std::string> loop;
    std::optional<std::string> segment;
    std::map<std::string, std::string> where;
    std::optional<std::uint64_t> element;
    std::optional<std::uint64_t> component;
    std::optional<std::uint64_t> group_element;
    bool segment_index = false;
};

// One reader per record. The records that keep views (RawSpec, RawTable) borrow from
// `value`.
[[nodiscard]] std::expected<RawSpec, ReaderError> read_spec(const nlohmann::json& value);
[[nodiscard]] std::expected<RawLoop, ReaderError> read_loop(const nlohmann::json& value);
[[nodiscard]] std::expected<RawTrigger, ReaderError> read_trigger(const nlohmann::json& value);
[[nodiscard]] std::expected<RawControl, ReaderError> read_control(const nlohmann::json& value);
[[nodiscard]] std::expected<RawSegment, ReaderError> read_segment(const nlohmann::json& value);
[[nodiscard]] std::expected<RawElement, ReaderError> read_element(const nlohmann::json& value);
[[nodiscard]] std::expected<RawTable, ReaderError> read_table(const nlohmann::json& value);
[[nodiscard]] std::expected<RawRepeat, ReaderError> read_repeat(const nlohmann::json& value);
[[nodiscard]] std::expected<RawColumn, ReaderError> read_column(const nlohmann::json& value);
[[nodiscard]] std::expected<RawVersion, ReaderError> read_version(const nlohmann::json& value);

// How the reader names a value of the wrong kind: "string \"abc\"", "integer `5`", "null".
std::string describe_found(const nlohmann::json& value);

}  // namespace remitrax
