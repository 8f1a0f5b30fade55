// The rows of the spec's tables. A loop-anchored table's row opens with an instance of its
// loop, takes its columns from the segments placed in it and is appended when the instance
// closes; a segment-anchored table gets a row (or one per repeat group) from each of its
// segments as it is placed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/id_index.hpp"
#include "column/table.hpp"
#include "column/types.hpp"
#include "project/element_checker.hpp"
#include "project/fill.hpp"
#include "project/findings.hpp"
#include "project/plan.hpp"
#include "spec/spec.hpp"
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

// Each table has the columns "row" and "segment" (Int64), one Int64 reference per ancestor
// table named by its `ref`, then the spec columns. Row numbers count per table from 0, are
// given when a row starts, and run on across takes until restart.
class RowBuilder {
  public:
    // `ids` numbers the segment ids; `plans` gives the plan of each number (null without
    // one), whose kept values the columns read. The spec and the plans must outlive it.
    RowBuilder(const Spec& spec, const Plans& plans, const IdIndex& ids,
               std::span<const SegmentPlan* const> plan_of, char component_separator);

    // An instance of `loop` opened at segment `index`: the row of its table, if any, starts.
    void opened(LoopId loop, std::uint64_t index);
    // The innermost instance, of `loop`, closes: the row of its table is appended.
    void closed(LoopId loop, Findings& findings);
    // A segment with id number `id` placed in `loop`: it fills the open rows' columns that it
    // matches, and makes the rows of the segment-anchored tables it anchors. `checked` holds
    // the values its element checks kept.
    void placed(const Segment& segment, std::uint32_t id, LoopId loop, std::uint64_t index,
                const ElementChecker& checked, Findings& findings);

    // Row numbering starts again from 0; rows not yet taken stay.
    void restart();
    // The rows appended since the last take, one table per spec table in spec order; the
    // schemas stay and the row counters are not reset.
    std::vector<Table> take_tables();
    // The same into `into`, tables of an earlier take in the same order, whose rows are
    // dropped and whose buffers the builder goes on with. False, with nothing taken, when
    // they are not tables of this builder's schemas.
    bool take_tables_into(std::vector<Table>& into);
    // Makes room in the columns of `table` for `rows` rows in all; appending stays correct
    // whatever the number of rows that come.
    void reserve(TableIndex table, std::size_t rows);

    const std::vector<TableState>& tables() const { return tables_; }

  private:
    // The widest spread of defined positions a group column indexes directly.
    static constexpr std::uint64_t group_span = 4096;

    // How one column of a row reads its value from a segment, resolved once from the spec and
    // the plans so that filling a row follows no pointers into the spec.
    struct ColumnRead {
        enum class Kind : std::uint8_t { Element, SegmentIndex, Group };
        const ColumnSource::Conditions* conditions = nullptr;  // null when there are none
        std::uint64_t element = 0;  // the element read; for a group column, its offset
        std::optional<std::uint64_t> component;
        ColumnType type;
        std::uint32_t table = 0;
        std::uint32_t column = 0;
        std::uint32_t slot = no_slot;  // the kept value of an element column, if any
        Kind kind = Kind::Element;
        // The conditions equal those of the read before in the same route.
        bool same_conditions = false;
        // For a group column, the kept values' slots by element position: group_slots[p -
        // group_first] for the positions up to the last the plan defines, no_slot for the
        // others, which are parsed from their text. When the defined positions spread wider
        // than group_span, the pairs of position and slot, ascending, in group_sparse instead.
        std::uint64_t group_first = 0;
        std::vector<std::uint32_t> group_slots;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> group_sparse;
    };
    // What a placed segment of one id does in one loop: the loop-anchored columns it may
    // fill, then the segment-anchored tables it makes rows of, as ranges of the lists below.
    struct Route {
        std::uint32_t fills_begin = 0;
        std::uint32_t fills_end = 0;
        std::uint32_t tables_begin = 0;
        std::uint32_t tables_end = 0;
    };

    ColumnRead column_read(TableIndex table, std::size_t column, const SegmentPlan* plan) const;
    void build_routes(const Plans& plans, std::span<const SegmentPlan* const> plan_of);
    // The route of a segment id number in a loop; both come from this builder's numbering and
    // the engine, so they are in range.
    const Route& route(std::uint32_t id, LoopId loop) const {
        return routes_[id * spec_->loops.size() + loop];
    }
    // The slot of a group column's value at element `position`, or no_slot.
    static std::uint32_t group_slot(const ColumnRead& read, std::uint64_t position);
    // Starts a loop-anchored row of `table`, opened at segment `index`.
    void start_row(TableIndex table, std::uint64_t index);
    // The ancestors' open row numbers of a row of `table` started now.
    void set_parents(TableIndex table, Row& row) const;
    // Fills the open rows' unset columns of `route` that the segment matches.
    void fill_columns(const Route& route, const Segment& segment, std::uint64_t index,
                      const ElementChecker& checked);
    // Builds and appends one row of a segment-anchored table; `group` is the first element
    // position of its repeat group.
    void segment_row(TableIndex table, std::optional<std::uint64_t> group, const Segment& segment,
                     std::uint64_t index, const ElementChecker& checked, Findings& findings);
    // Hands the value of one column read for the segment just checked to `sink` (see
    // fill::PendingSink): the value the checks kept, or without one the text parsed; `group`
    // is the first element position of a repeat group.
    template <class Sink>
    void read_into(const ColumnRead& read, const Segment& segment, std::uint64_t index,
                   std::optional<std::uint64_t> group, const ElementChecker& checked, Sink& sink);
    void report_dropped(std::span<const DroppedValue> dropped, TableIndex table,
                        std::uint64_t segment, Findings& findings) const;

    const Spec* spec_;
    std::size_t ids_ = 0;  // how many segment ids are numbered
    std::vector<TableState> tables_;
    std::vector<std::optional<TableIndex>> loop_table_;    // by LoopId
    std::vector<std::vector<TableIndex>> segment_tables_;  // by LoopId, in table order
    std::vector<std::uint32_t> table_segment_;  // by TableIndex; IdIndex::unknown without one
    std::vector<Route> routes_;                 // by id number and LoopId
    std::vector<ColumnRead> fills_;             // the loop-anchored columns of every route
    std::vector<TableIndex> row_tables_;        // the segment-anchored tables of every route
    std::vector<std::vector<ColumnRead>> segment_reads_;  // by TableIndex: segment-anchored only
    std::string scratch_;
    char component_separator_;
};

}  // namespace remitrax
