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

#include "base/id_index.hpp"
#include "column/table.hpp"
#include "column/types.hpp"
#include "diagnostic/diagnostic.hpp"
#include "engine/engine.hpp"
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
    // The same, with the number of the segment's id in ids() already known to the caller
    // (IdIndex::unknown for an id it does not hold).
    std::span<const Diagnostic> on(const Segment& segment, std::span<const Event> events,
                                   std::uint32_t id);

    // End of input: appends the rows of the loops still open, innermost first, and restarts
    // loop instance and row numbering. Rows not yet taken stay for the next take.
    std::span<const Diagnostic> finish();

    // The rows appended since the last take, one table per spec table in spec order; the
    // schemas stay and the row counters are not reset.
    std::vector<Table> take_tables();

    // Makes room in the columns of `table` for `rows` rows in all; appending stays correct
    // whatever the number of rows that come.
    void reserve(TableIndex table, std::size_t rows) {
        if (table < tables_.size()) {
            tables_[table].table.reserve(rows);
        }
    }

    const std::vector<TableState>& tables() const { return tables_; }
    const Spec& spec() const { return *spec_; }
    // The ids of the plans and of the segment-anchored tables.
    const IdIndex& ids() const { return ids_; }

  private:
    struct OpenLoop {
        LoopId loop = 0;
        std::uint64_t instance = 0;
    };

    void opened(LoopId loop, std::uint64_t segment);
    // Closes the innermost open loop, appending its table's row while it is still open.
    void closed();
    void placed(const Segment& segment, std::uint32_t id, LoopId loop, std::uint64_t index);

    // One value check of a plan, with what the definition asks resolved once.
    struct ValueStep {
        const ElementDef* def = nullptr;
        const CodeSet* codes = nullptr;  // null when any value is allowed
        // The bounds of check::length; without a minimum or a maximum, 0 or the largest value.
        std::uint64_t min = 0;
        std::uint64_t max = 0;
        std::uint64_t position = 0;  // of the element, or of the component in it; 1-based
        std::uint32_t slot = 0;      // where the value is kept, or no_slot
        ColumnType type;             // column_type_of the definition's type
        bool required = false;
    };
    struct ElementStep {
        ValueStep value;
        std::uint64_t max_component = 0;
        std::uint32_t components_begin = 0;  // into component_steps_; empty when simple
        std::uint32_t components_end = 0;
        // Into required_: the first required step of the plan at or after this one.
        std::uint32_t required_from = 0;
    };
    // The checks of one segment plan, as ranges of element_steps_ and required_.
    struct SegmentChecks {
        std::uint32_t elements_begin = 0;
        std::uint32_t elements_end = 0;
        std::uint32_t required_begin = 0;
        std::uint32_t required_end = 0;
    };
    static ValueStep value_step(std::uint64_t position, const ElementDef& def, ColumnType type,
                                const CodeSet& codes, bool keep, std::uint32_t slot);
    SegmentChecks compile_checks(const SegmentPlan& plan);

    // The element checks of a placed segment; stamps the values it keeps in `kept_`.
    void check_segment(const Segment& segment, const SegmentChecks& checks, std::uint64_t index);
    enum class Finding : std::uint8_t { Missing, Type, Length, Code };
    // Reports what the check of one value found; kept apart from the checks, which rarely
    // find anything.
    [[gnu::cold]] [[gnu::noinline]] void report_value(Finding finding, const Segment& segment,
                                                      std::uint64_t index, std::uint64_t element,
                                                      std::optional<std::uint64_t> component,
                                                      const ValueStep& step, std::string_view text);
    // Reports a composite with more components than its plan declares.
    [[gnu::cold]] [[gnu::noinline]] void report_shape(const Segment& segment, std::uint64_t index,
                                                      const ElementStep& step, const Element& data);
    // Checks one value. When the step keeps the value and the text is not empty, the value
    // parsed is kept in its slot: Null unless the text is valid for the type. Text that lies
    // in `raw` may be read in words that start before it, from the start of `raw` on.
    void check_value(const Segment& segment, std::uint64_t index, std::uint64_t element,
                     std::optional<std::uint64_t> component, const ValueStep& step,
                     std::string_view text, std::string_view raw);
    // A value not valid for its type: kept as Null and reported.
    [[gnu::cold]] [[gnu::noinline]] void refuse_value(const Segment& segment, std::uint64_t index,
                                                      std::uint64_t element,
                                                      std::optional<std::uint64_t> component,
                                                      const ValueStep& step, std::string_view text);

    // The kept slot of `plan` for exactly this element, component and type, or no_slot.
    static std::uint32_t slot_of(const SegmentPlan& plan, std::uint64_t element,
                                 std::optional<std::uint64_t> component, ColumnType type);
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

    // How one column of a row takes its value from a segment, resolved once from the spec
    // and the plans so that filling a row follows no pointers into the spec.
    struct ColumnStep {
        enum class Kind : std::uint8_t { Element, SegmentIndex, Group };
        const ColumnSource::Conditions* conditions = nullptr;  // null when there are none
        std::uint64_t element = 0;  // the element read; for a group column, its offset
        std::optional<std::uint64_t> component;
        ColumnType type;
        std::uint32_t table = 0;
        std::uint32_t column = 0;
        std::uint32_t slot = 0;  // the kept slot of an element column, or no_slot
        Kind kind = Kind::Element;
        // The conditions equal those of the step before in the same route.
        bool same_conditions = false;
        // For a group column: the kept slot by group position; no_slot past its end.
        std::vector<std::uint32_t> group_slots;
    };
    // What a placed segment of one id does in one loop: the loop-anchored columns it may
    // fill, then the segment-anchored tables it makes rows of, as ranges of the lists below.
    struct Route {
        std::uint32_t fills_begin = 0;
        std::uint32_t fills_end = 0;
        std::uint32_t tables_begin = 0;
        std::uint32_t tables_end = 0;
    };
    void build_routes();
    ColumnStep column_step(TableIndex table, std::size_t column, const SegmentPlan* plan) const;
    // Fills the open rows' unset columns of `route` that the segment matches.
    void fill_columns(const Route& route, const Segment& segment, std::uint64_t index);
    // Hands the value of one column step for the segment just checked to `sink` (see
    // fill::SlotSink): the kept value of its slot, or without one the text parsed; `group` is
    // the first element position of a repeat group.
    template <class Sink>
    void read_into(const ColumnStep& step, const Segment& segment, std::uint64_t index,
                   std::optional<std::uint64_t> group, Sink& sink);

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
    // A value kept by the checks, current while its stamp is that of the last check. Plain
    // words rather than a Cell: a Decimal is written as two halves and read back as the same
    // two halves, so neither side waits on a wider access to memory the other just touched.
    struct Kept {
        enum class Kind : std::uint8_t { Null, Bytes, Int, Decimal, Date, Time };
        std::uint64_t low = 0;   // an Int, Date or Time sign-extended; the low half of a Decimal
        std::uint64_t high = 0;  // the high half of a Decimal
        std::uint64_t stamp = 0;
        Kind kind = Kind::Null;
    };
    static constexpr std::uint32_t no_slot = std::numeric_limits<std::uint32_t>::max();
    std::vector<Kept> kept_;  // by slot
    std::vector<ElementStep> element_steps_;
    std::vector<ValueStep> component_steps_;
    std::vector<std::uint32_t> required_;  // into element_steps_, ascending per segment plan
    std::vector<std::optional<SegmentChecks>> checks_;  // by id number; none without a plan
    std::vector<Route> routes_;                         // by id number and LoopId
    std::vector<ColumnStep> fills_;                     // the loop-anchored columns of every route
    std::vector<TableIndex> row_tables_;  // the segment-anchored tables of every route
    std::vector<std::vector<ColumnStep>> table_steps_;  // by TableIndex: segment-anchored only
    std::uint64_t stamp_ = 0;
    std::string scratch_;
    std::vector<Diagnostic> diagnostics_;
    char component_separator_;
};

}  // namespace remitrax
