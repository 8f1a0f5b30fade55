// Compiled table definitions: which typed tables a parse produces, where each of their cells
// comes from, and which enclosing tables each row refers to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "spec/error.hpp"
#include "spec/loops.hpp"
#include "spec/records.hpp"

namespace remitrax {

struct Spec;

// A position in a spec's table list, which is in bytewise order of the table names.
using TableIndex = std::size_t;

// Rows of a segment-anchored table made of groups of `step` elements, the first group starting
// at the 1-based element position `from`. Both are at least 1.
struct Repeat {
    std::uint64_t from = 0;
    std::uint64_t step = 0;

    friend bool operator==(const Repeat&, const Repeat&) = default;
};

// Where the value of one spec column comes from.
struct ColumnSource {
    // 1-based position and value, in ascending position order; an occurrence matches when each
    // position holds a simple element equal to the value.
    using Conditions = std::vector<std::pair<std::uint64_t, std::string>>;

    // An element (or one of its components) of the first matching occurrence of `segment`,
    // read in an instance of `loop`, or in the row's anchor loop instance without one.
    struct Element {
        std::optional<LoopId> loop;
        std::string segment;
        Conditions conditions;
        std::uint64_t element = 0;               // 1-based
        std::optional<std::uint64_t> component;  // 1-based

        friend bool operator==(const Element&, const Element&) = default;
    };
    // The 0-based document index of the matching occurrence of `segment`.
    struct SegmentIndex {
        std::optional<LoopId> loop;
        std::string segment;
        Conditions conditions;

        friend bool operator==(const SegmentIndex&, const SegmentIndex&) = default;
    };
    // An element of the row's repeat group in a table with `repeat`.
    struct GroupElement {
        std::uint64_t offset = 0;                // 0-based, below the repeat's step
        std::optional<std::uint64_t> component;  // 1-based

        friend bool operator==(const GroupElement&, const GroupElement&) = default;
    };

    std::variant<Element, SegmentIndex, GroupElement> kind;

    friend bool operator==(const ColumnSource&, const ColumnSource&) = default;
};

struct TableDef {
    std::string name;  // never empty
    // The name of this table's row reference column in its descendant tables; unique in the
    // spec, never empty, "row" or "segment".
    std::string ref;
    std::vector<LoopId> loops;           // the anchor loops as listed; at least one, distinct
    std::optional<std::string> segment;  // present for a segment-anchored table; never empty
    std::optional<Repeat> repeat;        // only with `segment`
    std::vector<std::pair<std::string, ColumnSource>> columns;  // bytewise order of names
    // The enclosing loop-anchored tables whose row references this table carries, outermost
    // first, and the innermost of them.
    std::vector<TableIndex> ancestors;
    std::optional<TableIndex> parent;

    friend bool operator==(const TableDef&, const TableDef&) = default;
};

// Whether one loop lies inside another, answered in constant time. A depth-first walk from
// the roots numbers the loops as it enters them, so the loops inside a loop are those it
// numbers after that loop and before it leaves it.
class LoopNesting {
  public:
    // Walks the spec's roots and children, which must be linked.
    explicit LoopNesting(const Spec& spec);

    // `outer` is a proper ancestor of `inner`.
    bool encloses(LoopId outer, LoopId inner) const {
        return entered_[outer] < entered_[inner] && entered_[inner] < left_[outer];
    }
    // The loop's number in the walk.
    std::size_t entered(LoopId loop) const { return entered_[loop]; }
    // The number after those of the loop and of every loop inside it.
    std::size_t left(LoopId loop) const { return left_[loop]; }

  private:
    std::vector<std::size_t> entered_;
    std::vector<std::size_t> left_;
};

// Compiles the `tables` section (name and value, in bytewise name order) against the spec's
// compiled loops. Tables keep that order; the first fault met is returned.
[[nodiscard]] std::expected<std::vector<TableDef>, SpecError> compile_tables(
    const Spec& spec, const RawMembers& tables);

// Succeeds when every listed loop holds `segment` as its trigger, a member segment or its end;
// otherwise names the first listed loop that does not.
[[nodiscard]] std::expected<void, TableDefError> check_held(std::span<const LoopDef> loops,
                                                            std::span<const LoopId> ids,
                                                            std::string_view segment);

// Compiles one column of `table`, whose anchors, segment and repeat are already set; `nesting`
// is that of `spec`. Faults are reported with the table's and the column's names.
[[nodiscard]] std::expected<ColumnSource, SpecError> compile_column(const Spec& spec,
                                                                    const LoopNesting& nesting,
                                                                    const TableDef& table,
                                                                    std::string_view name,
                                                                    const nlohmann::json& value);

// Relates the compiled tables to each other: refuses a loop anchoring two loop-anchored
// tables, then a `ref` used twice, then anchors under unrelated table chains and columns
// named after an ancestor's `ref`; fills `ancestors` and `parent`.
[[nodiscard]] std::expected<void, SpecError> link_tables(std::span<const LoopDef> loops,
                                                         std::vector<TableDef>& tables);

}  // namespace remitrax
