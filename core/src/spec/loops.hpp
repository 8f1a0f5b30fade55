// Compiled loops: how each loop opens, what it holds, where it sits in the tree and how its
// envelope is checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "spec/error.hpp"
#include "spec/records.hpp"

namespace remitrax {

class Segment;

// An index into a spec's loops, which are in bytewise order of their names.
using LoopId = std::size_t;

// The segment that opens a loop instance, and the element values it must hold. The number of
// conditions is the trigger's specificity.
struct Trigger {
    std::string segment;  // never empty
    // 1-based position and value, in ascending position order; positions are distinct.
    std::vector<std::pair<std::uint64_t, std::string>> conditions;

    // The segment has the trigger's id and, at every condition's position, a simple element
    // holding exactly its value. A position past the segment's last element is absent, and a
    // composite element satisfies no condition.
    bool matches(const Segment& candidate) const;

    friend bool operator==(const Trigger&, const Trigger&) = default;
};

// What the count element of a loop's end segment counts.
enum class ControlCount : std::uint8_t {
    Segments,  // the instance's segments, from its opening segment through its end segment
    Children,  // the child loop instances opened directly under it
};

struct Control {
    std::size_t opener_element = 0;  // in the trigger segment, at least 1
    std::size_t closer_element = 0;  // in the end segment, at least 1
    std::size_t count_element = 0;   // in the end segment, at least 1
    ControlCount count = ControlCount::Segments;

    friend bool operator==(const Control&, const Control&) = default;
};

struct LoopDef {
    std::optional<LoopId> parent;
    std::string name;
    Trigger trigger;
    std::vector<std::string> segments;  // member segment ids, as written
    std::vector<LoopId> children;       // ascending
    std::optional<std::string> end;
    std::optional<Control> control;  // present only with `end`
};

// Compiles one loop record, given all loop names in bytewise order (a parent is resolved to
// its index there). `children` is left empty.
[[nodiscard]] std::expected<LoopDef, SpecError> compile_loop(std::string_view name,
                                                             const RawLoop& raw,
                                                             std::span<const std::string> names);

[[nodiscard]] std::expected<Control, ControlError> compile_control(const RawControl& raw,
                                                                   bool has_end);

// Refuses a chain of parents that returns to a loop already seen: the first cycle met when
// walking up from each loop in LoopId order.
[[nodiscard]] std::expected<void, SpecError> check_cycles(std::span<const LoopDef> loops);

// "\"NM1\" where {1: \"85\"}" or "\"LX\" with no conditions".
std::string render_trigger(const Trigger& trigger);

}  // namespace remitrax
