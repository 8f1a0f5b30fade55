// Turning placed segments into rows of typed tables, checking every defined element of every
// placed segment on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "column/table.hpp"
#include "column/types.hpp"
#include "diagnostic/diagnostic.hpp"
#include "engine/engine.hpp"
#include "engine/ids.hpp"
#include "project/check.hpp"
#include "project/fill.hpp"
#include "project/plan.hpp"
#include "spec/spec.hpp"
#include "x12/delimiters.hpp"
#include "x12/segment.hpp"

namespace remitrax {

// One table being filled.
struct TableState {
    std::vector<ColumnType> types;  // one per spec column
    // The open row of a loop-anchored table; a segment-anchored table builds each of its
    // rows in these buffers.
    Row row;
    Table table;                // full schema; the rows appended since the last take
    std::uint64_t counter = 0;  // the next row number; saturates
    bool row_open = false;
};

// Consumes the loop engine's events for one parse or one stream and keeps its own stack of
// open loops, fed only by those events. Used by one thread at a time.
//
// Each table has the columns "row" and "segment" (Int64), one Int64 reference per ancestor
// table named by its `ref`, then the spec columns. Row numbers count per table from 0, are
// given when a row starts, and run on across takes until `finish`.
class Projector {
  public:
    Projector(std::shared_ptr<const Spec> spec, const Delimiters& delimiters);

    // Consumes the events of one segment, in order. The findings of this call only, valid
    // until the next call.
    std::span<const Diagnostic> on(const Segment& segment, std::span<const Event> events);

    // End of input: appends the rows of the loops still open, innermost first, and restarts
    // loop instance and row numbering. Rows not yet taken stay for the next take.
    std::span<const Diagnostic> finish();

    // The rows appended since the last take, one table per spec table in spec order; the
    // schemas stay and the row counters are not reset.
    std::vector<Table> take_tables();

    const std::vector<TableState>& tables() const { return tables_; }
    const Spec& spec() const { return *spec_; }

  private:
    struct OpenLoop {
        LoopId loop = 0;
        std::uint64_t instance = 0;
    };

    void opened(LoopId loop, std::uint64_t segment);
    // Closes the innermost open loop, appending its table's row while it is still open.
    void closed();
    void placed(const Segment& segment, LoopId loop, std::uint64_t index);

    // The element checks of a placed segment; stamps the values it keeps in `kept_`.
    void check_segment(const Segment& segment, const SegmentPlan& plan, std::uint64_t index);
    // What the plans precompute for one value's check.
    struct ValueCheck {
        ColumnType type;  // column_type_of the definition's type
        const CodeSet& codes;
        bool keep = false;
    };
    // Checks one value against `def` and returns it parsed (Null unless `keep` and valid).
    Cell check_value(const Segment& segment, std::uint64_t index, std::uint64_t element,
                     std::optional<std::uint64_t> component, const ElementDef& def,
                     const ValueCheck& plan, std::string_view text);

    // Fills the attached loop-anchored columns that `segment` matches.
    void fill_columns(const Segment& segment, const SegmentPlan& plan, LoopId loop,
                      std::uint64_t index);
    // The kept slot of `plan` for exactly this element, component and type, or no_slot.
    static std::uint32_t slot_of(const SegmentPlan& plan, std::uint64_t element,
                                 std::optional<std::uint64_t> component, ColumnType type);
    // The value of element `element` (or its component) of the segment just checked, at
    // `type`: the kept value of `slot`, or without one the text parsed.
    Slot read_value(std::uint32_t slot, const Segment& segment, std::uint64_t element,
                    std::optional<std::uint64_t> component, ColumnType type, std::string& text);
    // Builds and appends one row of a segment-anchored table; `group` is the first element
    // position of its repeat group.
    void segment_row(TableIndex table, std::optional<std::uint64_t> group, const Segment& segment,
                     std::uint64_t index);
    // The ancestors' open row numbers of a row of `table` started now.
    void set_parents(TableIndex table, Row& row) const;
    // Starts a loop-anchored row of `table`, opened at segment `index`.
    void start_row(TableIndex table, std::uint64_t index);

    void report_dropped(std::span<const DroppedValue> dropped, TableIndex table,
                        std::uint64_t segment);
    void push_diagnostic(Rule rule, std::optional<std::uint64_t> segment,
                         std::optional<std::uint64_t> element,
                         std::optional<std::uint64_t> component, std::string_view datum);

    std::shared_ptr<const Spec> spec_;
    Plans plans_;
    // The ids of the plans and of the segment-anchored tables, numbered.
    IdIndex ids_;
    std::vector<const SegmentPlan*> plan_of_;   // by id number; null without a plan
    std::vector<std::uint32_t> table_segment_;  // by TableIndex; IdIndex::unknown without one
    std::vector<TableState> tables_;
    std::vector<std::optional<TableIndex>> loop_table_;    // by LoopId
    std::vector<std::vector<TableIndex>> segment_tables_;  // by LoopId, in table order
    std::vector<OpenLoop> open_;                           // outermost first
    std::vector<std::uint64_t> instances_;                 // by LoopId
    const SegmentPlan* checked_plan_ = nullptr;            // of the last check; null without a plan
    // A value kept by the checks, current while its stamp is that of the last check.
    struct Kept {
        Cell value;
        std::uint64_t stamp = 0;
    };
    static constexpr std::uint32_t no_slot = std::numeric_limits<std::uint32_t>::max();
    // By TableIndex and spec column: the kept slot of the segment plan the column reads, when
    // the checks keep exactly its element, component and type; else no_slot.
    std::vector<std::vector<std::uint32_t>> column_slot_;
    std::vector<Kept> kept_;  // by slot
    std::uint64_t stamp_ = 0;
    std::vector<Cell> cells_;
    std::string scratch_;
    std::vector<Diagnostic> diagnostics_;
    char component_separator_;
};

}  // namespace remitrax
