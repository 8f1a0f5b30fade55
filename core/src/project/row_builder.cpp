// The row builder: the rows of loop-anchored tables, opened and closed with their loops, and
// the rows of segment-anchored tables, one per segment or repeat group.
#include "project/row_builder.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <ranges>
#include <variant>

#include "base/fault.hpp"
#include "base/saturating.hpp"
#include "project/values.hpp"

namespace remitrax {

namespace {

// Every condition names an element of `segment` that is simple and holds exactly its value.
bool conditions_hold(const ColumnSource::Conditions& conditions, const Segment& segment) {
    const auto elements = segment.elements();
    for (const auto& [position, value] : conditions) {
        if (position == 0 || position > elements.size()) {
            return false;
        }
        const Element& element = elements[position - 1];
        if (element.is_composite()) {
            return false;
        }
        // Conditions name short codes; a plain loop beats the call into memcmp for them.
        const std::string_view bytes = element.value().bytes();
        if (bytes.size() != value.size()) {
            return false;
        }
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] != value[i]) {
                return false;
            }
        }
    }
    return true;
}

// A simple value with at least one byte, or a composite with a non-empty component.
bool non_empty(const Segment& segment, std::uint64_t position) {
    const auto elements = segment.elements();
    if (position == 0 || position > elements.size()) {
        return false;
    }
    const Element& element = elements[position - 1];
    if (!element.is_composite()) {
        return !element.value().bytes().empty();
    }
    for (const Value& part : element.components()) {
        if (!part.bytes().empty()) {
            return true;
        }
    }
    return false;
}

Cell index_cell(std::uint64_t index) {
    if (index > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return cell::Null{};
    }
    return cell::Int{static_cast<std::int64_t>(index)};
}

std::vector<ColumnSchema> schema_of(const Spec& spec, const TableDef& table,
                                    const std::vector<ColumnType>& types) {
    std::vector<ColumnSchema> schema;
    schema.reserve(2 + table.ancestors.size() + table.columns.size());
    schema.push_back({"row", ColumnType::int64(0)});
    schema.push_back({"segment", ColumnType::int64(0)});
    for (const TableIndex ancestor : table.ancestors) {
        schema.push_back({spec.tables[ancestor].ref, ColumnType::int64(0)});
    }
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        schema.push_back({table.columns[c].first, types[c]});
    }
    return schema;
}

}  // namespace

RowBuilder::RowBuilder(const Spec& spec, const Plans& plans, const IdIndex& ids,
                       std::span<const SegmentPlan* const> plan_of, char component_separator)
    : spec_(&spec),
      ids_(ids.size()),
      loop_table_(spec.loops.size()),
      segment_tables_(spec.loops.size()),
      table_segment_(spec.tables.size(), IdIndex::unknown),
      component_separator_(component_separator) {
    if (plan_of.size() != ids.size()) {
        throw InternalFault("the plans of the row builder do not match its ids");
    }
    tables_.reserve(spec.tables.size());
    for (TableIndex t = 0; t < spec.tables.size(); ++t) {
        const TableDef& def = spec.tables[t];
        std::vector<ColumnType> types;
        types.reserve(def.columns.size());
        for (const auto& column : def.columns) {
            types.push_back(column_type(spec, def, column.second));
        }
        const auto schema = schema_of(spec, def, types);
        for (const LoopId anchor : def.loops) {
            if (def.segment) {
                segment_tables_[anchor].push_back(t);
            } else {
                loop_table_[anchor] = t;
            }
        }
        if (def.segment) {
            table_segment_[t] = ids.find(*def.segment);
        }
        tables_.push_back(TableState{std::move(types), Row{}, Table(def.name, schema), 0, false});
    }
    build_routes(plans, plan_of);
}

RowBuilder::ColumnRead RowBuilder::column_read(TableIndex table, std::size_t column,
                                               const SegmentPlan* plan) const {
    const ColumnSource& source = spec_->tables[table].columns[column].second;
    ColumnRead read;
    read.type = tables_[table].types[column];
    read.table = static_cast<std::uint32_t>(table);
    read.column = static_cast<std::uint32_t>(column);
    const auto conditions = [&read](const ColumnSource::Conditions& list) {
        read.conditions = list.empty() ? nullptr : &list;
    };
    if (const auto* element = std::get_if<ColumnSource::Element>(&source.kind)) {
        conditions(element->conditions);
        read.element = element->element;
        read.component = element->component;
        if (plan != nullptr) {
            read.slot = plan->slot_of(element->element, element->component, read.type);
        }
    } else if (const auto* position = std::get_if<ColumnSource::SegmentIndex>(&source.kind)) {
        conditions(position->conditions);
        read.kind = ColumnRead::Kind::SegmentIndex;
    } else {
        const auto& member = std::get<ColumnSource::GroupElement>(source.kind);
        read.kind = ColumnRead::Kind::Group;
        read.element = member.offset;
        read.component = member.component;
        // Only the positions the plan defines count: a spec may define one element far out,
        // so a wide spread of them is kept as pairs rather than one entry per position.
        if (plan != nullptr && !plan->elements.empty()) {
            const std::uint64_t first = plan->elements.front().position;
            const std::uint64_t last = plan->elements.back().position;
            const bool direct = last - first < group_span;
            read.group_first = first;
            if (direct) {
                read.group_slots.assign(last - first + 1, no_slot);
            }
            for (const ElementPlan& defined : plan->elements) {
                const std::uint32_t slot =
                    plan->slot_of(defined.position, member.component, read.type);
                if (slot == no_slot) {
                    continue;
                }
                if (direct) {
                    read.group_slots[defined.position - first] = slot;
                } else {
                    read.group_sparse.emplace_back(defined.position, slot);
                }
            }
        }
    }
    return read;
}

void RowBuilder::build_routes(const Plans& plans, std::span<const SegmentPlan* const> plan_of) {
    const std::size_t loops = spec_->loops.size();
    segment_reads_.resize(spec_->tables.size());
    for (TableIndex t = 0; t < spec_->tables.size(); ++t) {
        const TableDef& def = spec_->tables[t];
        if (!def.segment) {
            continue;
        }
        // The rows of a segment-anchored table read their own segment.
        const SegmentPlan* plan = plans.get(*def.segment);
        for (std::size_t c = 0; c < def.columns.size(); ++c) {
            segment_reads_[t].push_back(column_read(t, c, plan));
        }
    }
    routes_.assign(ids_ * loops, Route{});
    for (std::uint32_t id = 0; id < ids_; ++id) {
        const SegmentPlan* plan = plan_of[id];
        for (LoopId loop = 0; loop < loops; ++loop) {
            Route& route = routes_[id * loops + loop];
            route.fills_begin = static_cast<std::uint32_t>(fills_.size());
            if (plan != nullptr && loop < plan->by_loop.size()) {
                for (const ColumnRef& ref : plan->by_loop[loop]) {
                    ColumnRead read = column_read(ref.table, ref.column, plan);
                    // Group columns belong to segment-anchored tables only.
                    if (read.kind == ColumnRead::Kind::Group) {
                        continue;
                    }
                    // Conditions equal to those of the read before are tested once.
                    const std::size_t first = route.fills_begin;
                    read.same_conditions = fills_.size() > first && read.conditions != nullptr &&
                                           fills_.back().conditions != nullptr &&
                                           *fills_.back().conditions == *read.conditions;
                    fills_.push_back(std::move(read));
                }
            }
            route.fills_end = static_cast<std::uint32_t>(fills_.size());
            route.tables_begin = static_cast<std::uint32_t>(row_tables_.size());
            for (const TableIndex table : segment_tables_[loop]) {
                if (table_segment_[table] == id) {
                    row_tables_.push_back(table);
                }
            }
            route.tables_end = static_cast<std::uint32_t>(row_tables_.size());
        }
    }
}

std::uint32_t RowBuilder::group_slot(const ColumnRead& read, std::uint64_t position) {
    if (!read.group_sparse.empty()) {
        const auto found =
            std::ranges::lower_bound(read.group_sparse, position, std::less<>{},
                                     &std::pair<std::uint64_t, std::uint32_t>::first);
        return found != read.group_sparse.end() && found->first == position ? found->second
                                                                            : no_slot;
    }
    const std::uint64_t at = position - read.group_first;
    return position >= read.group_first && at < read.group_slots.size() ? read.group_slots[at]
                                                                        : no_slot;
}

void RowBuilder::opened(LoopId loop, std::uint64_t index) {
    if (const auto table = loop_table_.at(loop)) {
        start_row(*table, index);
    }
}

void RowBuilder::start_row(TableIndex table, std::uint64_t index) {
    TableState& state = tables_[table];
    set_parents(table, state.row);
    state.row.cells.assign(state.types.size(), pending::Unset{});
    state.row.text.clear();
    state.row.number = state.counter;
    saturating_increment(state.counter);
    state.row.segment = index;
    state.row_open = true;
}

void RowBuilder::set_parents(TableIndex table, Row& row) const {
    const auto& ancestors = spec_->tables[table].ancestors;
    row.parents.clear();
    for (const TableIndex ancestor : ancestors) {
        const TableState& state = tables_[ancestor];
        row.parents.push_back(state.row_open ? std::optional(state.row.number) : std::nullopt);
    }
}

void RowBuilder::closed(LoopId loop, Findings& findings) {
    const auto table = loop_table_.at(loop);
    if (!table || !tables_[*table].row_open) {
        return;
    }
    TableState& state = tables_[*table];
    state.row_open = false;
    const auto dropped = fill::append(state.row, state.table);
    report_dropped(dropped, *table, state.row.segment, findings);
}

void RowBuilder::placed(const Segment& segment, std::uint32_t id, LoopId loop, std::uint64_t index,
                        const ElementChecker& checked, Findings& findings) {
    const Route& at = route(id, loop);
    fill_columns(at, segment, index, checked);
    for (std::uint32_t r = at.tables_begin; r < at.tables_end; ++r) {
        const TableIndex table = row_tables_[r];
        const TableDef& def = spec_->tables[table];
        if (!def.repeat) {
            segment_row(table, std::nullopt, segment, index, checked, findings);
            continue;
        }
        const std::uint64_t count = segment.elements().size();
        for (std::uint64_t p = def.repeat->from; p <= count;) {
            // An empty group is skipped; the groups after it are still read.
            if (non_empty(segment, p)) {
                segment_row(table, p, segment, index, checked, findings);
            }
            if (__builtin_add_overflow(p, def.repeat->step, &p)) {
                break;
            }
        }
    }
}

void RowBuilder::fill_columns(const Route& route, const Segment& segment, std::uint64_t index,
                              const ElementChecker& checked) {
    // The outcome of the last conditions tested; reads that repeat them reuse it.
    enum class Tested : std::uint8_t { No, Hold, Fail } tested = Tested::No;
    for (std::uint32_t f = route.fills_begin; f < route.fills_end; ++f) {
        const ColumnRead& read = fills_[f];
        if (!read.same_conditions) {
            tested = Tested::No;
        }
        TableState& state = tables_[read.table];
        if (!state.row_open) {
            continue;
        }
        PendingCell& target = state.row.cells[read.column];
        if (!std::holds_alternative<pending::Unset>(target)) {
            continue;
        }
        if (read.conditions != nullptr) {
            if (tested == Tested::No) {
                tested = conditions_hold(*read.conditions, segment) ? Tested::Hold : Tested::Fail;
            }
            if (tested == Tested::Fail) {
                continue;
            }
        }
        fill::PendingSink sink{target, state.row.text};
        read_into(read, segment, index, std::nullopt, checked, sink);
    }
}

template <class Sink>
inline void RowBuilder::read_into(const ColumnRead& read, const Segment& segment,
                                  std::uint64_t index, std::optional<std::uint64_t> group,
                                  const ElementChecker& checked, Sink& sink) {
    std::uint64_t element = read.element;
    std::uint32_t slot = read.slot;
    switch (read.kind) {
        case ColumnRead::Kind::Element:
            break;
        case ColumnRead::Kind::SegmentIndex:
            sink.cell(index_cell(index));
            return;
        case ColumnRead::Kind::Group: {
            if (!group || __builtin_add_overflow(*group, read.element, &element)) {
                sink.null();
                return;
            }
            slot = group_slot(read, element);
            break;
        }
    }
    if (slot == no_slot) {
        sink.cell(fill::parsed_cell(segment, element, read.component, read.type,
                                    component_separator_, scratch_));
        return;
    }
    // A kept value the last check did not stamp had no text. The others go to the sink from
    // where they are kept, with no copy on the way.
    const ElementChecker::Kept* kept = checked.kept(slot);
    if (kept == nullptr) {
        sink.null();
        return;
    }
    switch (kept->kind) {
        case ElementChecker::Kept::Kind::Bytes:
            sink.bytes(
                value::leaf_text(segment, element, read.component, component_separator_, scratch_));
            return;
        case ElementChecker::Kept::Kind::Int:
            sink.integer(static_cast<std::int64_t>(kept->low));
            return;
        case ElementChecker::Kept::Kind::Decimal:
            sink.decimal(static_cast<Int128>(kept->high) << 64 | kept->low);
            return;
        case ElementChecker::Kept::Kind::Date:
            sink.date(static_cast<std::int32_t>(kept->low));
            return;
        case ElementChecker::Kept::Kind::Time:
            sink.time(static_cast<std::int32_t>(kept->low));
            return;
        case ElementChecker::Kept::Kind::Null:
            break;
    }
    sink.null();
}

void RowBuilder::segment_row(TableIndex table, std::optional<std::uint64_t> group,
                             const Segment& segment, std::uint64_t index,
                             const ElementChecker& checked, Findings& findings) {
    TableState& state = tables_[table];
    const std::uint64_t number = state.counter;
    saturating_increment(state.counter);
    const std::vector<ColumnRead>& reads = segment_reads_[table];
    const auto& ancestors = spec_->tables[table].ancestors;
    std::vector<DroppedValue> dropped;
    // The row goes straight into the columns, whose schema is the one built for this table:
    // row, segment, one reference per ancestor, then one column per read.
    if (state.table.columns().size() != 2 + ancestors.size() + reads.size()) {
        throw InternalFault("the reads of the table \"" + state.table.name() +
                            "\" do not match its columns");
    }
    state.table.append_row([&](std::span<NamedColumn> columns) {
        const auto open_rows = ancestors | std::views::transform([&](TableIndex ancestor) {
                                   const TableState& up = tables_[ancestor];
                                   return up.row_open ? std::optional(up.row.number) : std::nullopt;
                               });
        std::size_t c = fill::push_prefix(columns, number, index, open_rows);
        for (const ColumnRead& read : reads) {
            fill::ColumnSink sink{columns[c++], dropped};
            read_into(read, segment, index, group, checked, sink);
        }
    });
    report_dropped(dropped, table, index, findings);
}

void RowBuilder::report_dropped(std::span<const DroppedValue> dropped, TableIndex table,
                                std::uint64_t segment, Findings& findings) const {
    for (const DroppedValue& value : dropped) {
        findings.add(
            Rule{Rule::ValueDropped{value.column, spec_->tables[table].name, value.length}},
            segment, std::nullopt, std::nullopt, value.bytes);
    }
}

void RowBuilder::restart() {
    for (TableState& state : tables_) {
        state.counter = 0;
    }
}

std::vector<Table> RowBuilder::take_tables() {
    std::vector<Table> taken;
    taken.reserve(tables_.size());
    for (TableState& state : tables_) {
        taken.push_back(state.table.take_rows());
    }
    return taken;
}

bool RowBuilder::take_tables_into(std::vector<Table>& into) {
    if (into.size() != tables_.size()) {
        return false;
    }
    for (std::size_t t = 0; t < tables_.size(); ++t) {
        if (!tables_[t].table.same_schema(into[t])) {
            return false;
        }
    }
    for (std::size_t t = 0; t < tables_.size(); ++t) {
        static_cast<void>(tables_[t].table.take_rows_into(into[t]));
    }
    return true;
}

void RowBuilder::reserve(TableIndex table, std::size_t rows) {
    tables_.at(table).table.reserve(rows);
}

}  // namespace remitrax
