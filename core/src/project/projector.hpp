// Turning placed segments into rows of typed tables, checking every defined element of every
// placed segment on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/id_index.hpp"
#include "column/table.hpp"
#include "diagnostic/diagnostic.hpp"
#include "engine/engine.hpp"
#include "project/element_checker.hpp"
#include "project/findings.hpp"
#include "project/plan.hpp"
#include "project/row_builder.hpp"
#include "spec/spec.hpp"
#include "x12/delimiters.hpp"
#include "x12/segment.hpp"

namespace remitrax {

// Consumes the loop engine's events for one parse or one stream and keeps its own stack of
// open loops, fed only by those events: each placed segment goes to the element checker, then
// to the row builder, which reads the values the checks kept. Used by one thread at a time.
class Projector {
  public:
    Projector(std::shared_ptr<const Spec> spec, const Delimiters& delimiters);

    // Consumes the events of one segment, in order. The findings of this call only, valid
    // until the next call.
    std::span<const Diagnostic> on(const Segment& segment, std::span<const Event> events) {
        return on(segment, events, index_.ids.find(segment.id()));
    }
    // The same, with the number of the segment's id in ids() already known to the caller
    // (IdIndex::unknown for an id it does not hold).
    std::span<const Diagnostic> on(const Segment& segment, std::span<const Event> events,
                                   std::uint32_t id);

    // End of input: appends the rows of the loops still open, innermost first, and restarts
    // loop instance and row numbering. Rows not yet taken stay for the next take.
    std::span<const Diagnostic> finish();

    // The rows appended since the last take, one table per spec table in spec order; the
    // schemas stay and the row counters are not reset.
    std::vector<Table> take_tables() { return rows_.take_tables(); }
    // The same into the tables of an earlier take, reusing their buffers; false, with nothing
    // taken, when they are not this projector's.
    bool take_tables_into(std::vector<Table>& into) { return rows_.take_tables_into(into); }

    // Makes room in the columns of `table` for `rows` rows in all.
    void reserve(TableIndex table, std::size_t rows) { rows_.reserve(table, rows); }

    const std::vector<TableState>& tables() const { return rows_.tables(); }
    const Spec& spec() const { return *spec_; }
    // The ids of the plans and of the segment-anchored tables.
    const IdIndex& ids() const { return index_.ids; }

  private:
    void opened(LoopId loop, std::uint64_t segment);
    // Closes the innermost open loop, appending its table's row while it is still open.
    void closed();

    std::shared_ptr<const Spec> spec_;
    Plans plans_;
    PlanIndex index_;
    std::vector<OpenLoop> open_;            // outermost first
    std::vector<std::uint64_t> instances_;  // by LoopId
    Findings findings_;
    ElementChecker element_checker_;
    RowBuilder rows_;
};

}  // namespace remitrax
