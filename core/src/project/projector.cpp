#include "project/projector.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <variant>

namespace remitrax {

namespace {

void saturating_increment(std::uint64_t& value) {
    if (value != std::numeric_limits<std::uint64_t>::max()) {
        ++value;
    }
}

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

Projector::Projector(std::shared_ptr<const Spec> spec, const Delimiters& delimiters)
    : spec_(std::move(spec)),
      plans_(Plans::build(*spec_)),
      loop_table_(spec_->loops.size()),
      segment_tables_(spec_->loops.size()),
      instances_(spec_->loops.size(), 0),
      component_separator_(delimiters.component) {
    tables_.reserve(spec_->tables.size());
    for (TableIndex t = 0; t < spec_->tables.size(); ++t) {
        const TableDef& def = spec_->tables[t];
        std::vector<ColumnType> types;
        types.reserve(def.columns.size());
        for (const auto& column : def.columns) {
            types.push_back(column_type(*spec_, def, column.second));
        }
        const auto schema = schema_of(*spec_, def, types);
        for (const LoopId anchor : def.loops) {
            if (def.segment) {
                segment_tables_[anchor].push_back(t);
            } else {
                loop_table_[anchor] = t;
            }
        }
        tables_.push_back(TableState{std::move(types), Row{}, Table(def.name, schema), 0, false});
    }
    const auto add_plan = [this](std::string_view id, const SegmentPlan& plan) {
        const std::uint32_t number = ids_.add(id);
        plan_of_.resize(ids_.size(), nullptr);
        plan_of_[number] = &plan;
    };
    for (const auto& [key, plan] : plans_.short_ids()) {
        // The packed key is a 1 byte followed by the id's bytes.
        std::string id;
        for (std::size_t n = (std::bit_width(key) - 1) / 8; n > 0; --n) {
            id.push_back(static_cast<char>((key >> (8 * (n - 1))) & 0xFFu));
        }
        add_plan(id, plan);
    }
    for (const auto& [id, plan] : plans_.long_ids()) {
        add_plan(id, plan);
    }
    table_segment_.assign(spec_->tables.size(), IdIndex::unknown);
    for (TableIndex t = 0; t < spec_->tables.size(); ++t) {
        if (const auto& segment = spec_->tables[t].segment) {
            table_segment_[t] = ids_.add(*segment);
        }
    }
    plan_of_.resize(ids_.size(), nullptr);
    std::uint32_t most = 0;
    for (const auto& entry : plans_.short_ids()) {
        most = std::max(most, entry.second.kept);
    }
    for (const auto& entry : plans_.long_ids()) {
        most = std::max(most, entry.second.kept);
    }
    kept_.resize(most);
    checks_.resize(ids_.size());
    for (std::uint32_t id = 0; id < ids_.size(); ++id) {
        if (plan_of_[id] != nullptr) {
            checks_[id] = compile_checks(*plan_of_[id]);
        }
    }
    build_routes();
}

Projector::ColumnStep Projector::column_step(TableIndex table, std::size_t column,
                                             const SegmentPlan* plan) const {
    const ColumnSource& source = spec_->tables[table].columns[column].second;
    ColumnStep step;
    step.type = tables_[table].types[column];
    step.table = static_cast<std::uint32_t>(table);
    step.column = static_cast<std::uint32_t>(column);
    step.slot = no_slot;
    const auto conditions = [&step](const ColumnSource::Conditions& list) {
        step.conditions = list.empty() ? nullptr : &list;
    };
    if (const auto* element = std::get_if<ColumnSource::Element>(&source.kind)) {
        conditions(element->conditions);
        step.element = element->element;
        step.component = element->component;
        if (plan != nullptr) {
            step.slot = slot_of(*plan, element->element, element->component, step.type);
        }
    } else if (const auto* position = std::get_if<ColumnSource::SegmentIndex>(&source.kind)) {
        conditions(position->conditions);
        step.kind = ColumnStep::Kind::SegmentIndex;
    } else {
        const auto& member = std::get<ColumnSource::GroupElement>(source.kind);
        step.kind = ColumnStep::Kind::Group;
        step.element = member.offset;
        step.component = member.component;
        // The group's element positions that the plan defines; later ones have no slot.
        if (plan != nullptr && !plan->elements.empty()) {
            const std::uint64_t last = plan->elements.back().position;
            for (std::uint64_t p = 0; p <= last; ++p) {
                step.group_slots.push_back(slot_of(*plan, p, member.component, step.type));
            }
        }
    }
    return step;
}

void Projector::build_routes() {
    const std::size_t loops = spec_->loops.size();
    table_steps_.resize(spec_->tables.size());
    for (TableIndex t = 0; t < spec_->tables.size(); ++t) {
        const TableDef& def = spec_->tables[t];
        if (!def.segment) {
            continue;
        }
        // The rows of a segment-anchored table read their own segment.
        const SegmentPlan* plan = plans_.get(*def.segment);
        for (std::size_t c = 0; c < def.columns.size(); ++c) {
            table_steps_[t].push_back(column_step(t, c, plan));
        }
    }
    routes_.assign(ids_.size() * loops, Route{});
    for (std::uint32_t id = 0; id < ids_.size(); ++id) {
        const SegmentPlan* plan = plan_of_[id];
        for (LoopId loop = 0; loop < loops; ++loop) {
            Route& route = routes_[id * loops + loop];
            route.fills_begin = static_cast<std::uint32_t>(fills_.size());
            if (plan != nullptr && loop < plan->by_loop.size()) {
                for (const ColumnRef& ref : plan->by_loop[loop]) {
                    ColumnStep step = column_step(ref.table, ref.column, plan);
                    // Group columns belong to segment-anchored tables only.
                    if (step.kind == ColumnStep::Kind::Group) {
                        continue;
                    }
                    // Conditions equal to those of the step before are tested once.
                    const std::size_t first = route.fills_begin;
                    step.same_conditions = fills_.size() > first && step.conditions != nullptr &&
                                           fills_.back().conditions != nullptr &&
                                           *fills_.back().conditions == *step.conditions;
                    fills_.push_back(std::move(step));
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

std::uint32_t Projector::slot_of(const SegmentPlan& plan, std::uint64_t element,
                                 std::optional<std::uint64_t> component, ColumnType type) {
    const auto found =
        std::ranges::lower_bound(plan.elements, element, std::less<>{}, &ElementPlan::position);
    if (found == plan.elements.end() || found->position != element) {
        return no_slot;
    }
    if (found->components.empty()) {
        return found->keep && !component && found->column_type == type ? found->slot : no_slot;
    }
    for (const ComponentPlan& part : found->components) {
        if (part.keep && component == part.position && part.column_type == type) {
            return part.slot;
        }
    }
    return no_slot;
}

std::span<const Diagnostic> Projector::on(const Segment& segment, std::span<const Event> events) {
    return on(segment, events, ids_.find(segment.id()));
}

std::span<const Diagnostic> Projector::on(const Segment& segment, std::span<const Event> events,
                                          std::uint32_t id) {
    diagnostics_.clear();
    for (const Event& event : events) {
        switch (event.kind()) {
            case EventKind::Open:
                opened(event.loop(), event.segment());
                break;
            case EventKind::Close:
                closed();
                break;
            case EventKind::Placed:
                placed(segment, id, event.loop(), event.segment());
                break;
            case EventKind::Unplaced:
            case EventKind::Empty:
                break;
        }
    }
    return diagnostics_;
}

std::span<const Diagnostic> Projector::finish() {
    diagnostics_.clear();
    while (!open_.empty()) {
        closed();
    }
    std::ranges::fill(instances_, 0);
    for (TableState& state : tables_) {
        state.counter = 0;
    }
    return diagnostics_;
}

std::vector<Table> Projector::take_tables() {
    std::vector<Table> taken;
    taken.reserve(tables_.size());
    for (TableState& state : tables_) {
        taken.push_back(state.table.take_rows());
    }
    return taken;
}

void Projector::opened(LoopId loop, std::uint64_t segment) {
    // Events name loops of this projector's spec; anything else is ignored, not indexed.
    if (loop >= instances_.size()) {
        return;
    }
    saturating_increment(instances_[loop]);
    open_.push_back({loop, instances_[loop]});
    if (const auto table = loop_table_[loop]) {
        start_row(*table, segment);
    }
}

void Projector::start_row(TableIndex table, std::uint64_t index) {
    TableState& state = tables_[table];
    set_parents(table, state.row);
    state.row.slots.assign(state.types.size(), slot::Unset{});
    state.row.text.clear();
    state.row.number = state.counter;
    saturating_increment(state.counter);
    state.row.segment = index;
    state.row_open = true;
}

void Projector::set_parents(TableIndex table, Row& row) const {
    const auto& ancestors = spec_->tables[table].ancestors;
    row.parents.clear();
    for (const TableIndex ancestor : ancestors) {
        const TableState& state = tables_[ancestor];
        row.parents.push_back(state.row_open ? std::optional(state.row.number) : std::nullopt);
    }
}

void Projector::closed() {
    if (open_.empty()) {
        return;
    }
    if (const auto table = loop_table_[open_.back().loop]; table && tables_[*table].row_open) {
        TableState& state = tables_[*table];
        state.row_open = false;
        const auto dropped = fill::append(state.row, state.table);
        report_dropped(dropped, *table, state.row.segment);
    }
    open_.pop_back();
}

void Projector::placed(const Segment& segment, std::uint32_t id, LoopId loop, std::uint64_t index) {
    if (loop >= instances_.size()) {
        return;
    }
    if (id == IdIndex::unknown) {
        return;
    }
    if (const auto& checks = checks_[id]) {
        check_segment(segment, *checks, index);
    }
    const Route& route = routes_[id * spec_->loops.size() + loop];
    fill_columns(route, segment, index);
    for (std::uint32_t r = route.tables_begin; r < route.tables_end; ++r) {
        const TableIndex table = row_tables_[r];
        const TableDef& def = spec_->tables[table];
        if (!def.repeat) {
            segment_row(table, std::nullopt, segment, index);
            continue;
        }
        const std::uint64_t count = segment.elements().size();
        for (std::uint64_t p = def.repeat->from; p <= count;) {
            // An empty group is skipped; the groups after it are still read.
            if (non_empty(segment, p)) {
                segment_row(table, p, segment, index);
            }
            if (__builtin_add_overflow(p, def.repeat->step, &p)) {
                break;
            }
        }
    }
}

void Projector::fill_columns(const Route& route, const Segment& segment, std::uint64_t index) {
    // The outcome of the last conditions tested; steps that repeat them reuse it.
    enum class Tested : std::uint8_t { No, Hold, Fail } tested = Tested::No;
    for (std::uint32_t f = route.fills_begin; f < route.fills_end; ++f) {
        const ColumnStep& step = fills_[f];
        if (!step.same_conditions) {
            tested = Tested::No;
        }
        TableState& state = tables_[step.table];
        if (!state.row_open) {
            continue;
        }
        Slot& target = state.row.slots[step.column];
        if (!std::holds_alternative<slot::Unset>(target)) {
            continue;
        }
        if (step.conditions != nullptr) {
            if (tested == Tested::No) {
                tested = conditions_hold(*step.conditions, segment) ? Tested::Hold : Tested::Fail;
            }
            if (tested == Tested::Fail) {
                continue;
            }
        }
        fill::SlotSink sink{target, state.row.text};
        read_into(step, segment, index, std::nullopt, sink);
    }
}

template <class Sink>
inline void Projector::read_into(const ColumnStep& step, const Segment& segment,
                                 std::uint64_t index, std::optional<std::uint64_t> group,
                                 Sink& sink) {
    std::uint64_t element = step.element;
    std::uint32_t slot = step.slot;
    switch (step.kind) {
        case ColumnStep::Kind::Element:
            break;
        case ColumnStep::Kind::SegmentIndex:
            sink.cell(index_cell(index));
            return;
        case ColumnStep::Kind::Group:
            if (!group || __builtin_add_overflow(*group, step.element, &element)) {
                sink.null();
                return;
            }
            slot = element < step.group_slots.size() ? step.group_slots[element] : no_slot;
            break;
    }
    if (slot == no_slot) {
        sink.cell(fill::parsed_cell(segment, {element, step.component, step.type},
                                    component_separator_, scratch_));
        return;
    }
    // A kept value the last check did not stamp had no text. The others go to the sink from
    // where they are kept, with no copy on the way.
    const Kept& kept = kept_[slot];
    if (kept.stamp != stamp_) {
        sink.null();
        return;
    }
    switch (kept.kind) {
        case Kept::Kind::Bytes:
            sink.bytes(
                fill::leaf_text(segment, element, step.component, component_separator_, scratch_));
            return;
        case Kept::Kind::Int:
            sink.integer(static_cast<std::int64_t>(kept.low));
            return;
        case Kept::Kind::Decimal:
            sink.decimal(static_cast<Int128>(kept.high) << 64 | kept.low);
            return;
        case Kept::Kind::Date:
            sink.date(static_cast<std::int32_t>(kept.low));
            return;
        case Kept::Kind::Time:
            sink.time(static_cast<std::int32_t>(kept.low));
            return;
        case Kept::Kind::Null:
            break;
    }
    sink.null();
}

void Projector::segment_row(TableIndex table, std::optional<std::uint64_t> group,
                            const Segment& segment, std::uint64_t index) {
    TableState& state = tables_[table];
    const std::uint64_t number = state.counter;
    saturating_increment(state.counter);
    const std::vector<ColumnStep>& steps = table_steps_[table];
    std::vector<DroppedValue> dropped;
    // The row goes straight into the columns, whose schema is the one built for this table:
    // row, segment, one reference per ancestor, then one column per step.
    state.table.append_row([&](std::span<NamedColumn> columns) {
        std::size_t c = 0;
        const auto next = [&]() -> NamedColumn* {
            return c < columns.size() ? &columns[c++] : nullptr;
        };
        if (NamedColumn* column = next()) {
            fill::push_index(column->data, number);
        }
        if (NamedColumn* column = next()) {
            fill::push_index(column->data, index);
        }
        for (const TableIndex ancestor : spec_->tables[table].ancestors) {
            if (NamedColumn* column = next()) {
                const TableState& up = tables_[ancestor];
                if (up.row_open) {
                    fill::push_index(column->data, up.row.number);
                } else {
                    column->data.push_null();
                }
            }
        }
        for (const ColumnStep& step : steps) {
            NamedColumn* column = next();
            if (column == nullptr) {
                break;
            }
            fill::ColumnSink sink{*column, dropped};
            read_into(step, segment, index, group, sink);
        }
        while (NamedColumn* column = next()) {
            column->data.push_null();
        }
    });
    report_dropped(dropped, table, index);
}

void Projector::report_dropped(std::span<const DroppedValue> dropped, TableIndex table,
                               std::uint64_t segment) {
    for (const DroppedValue& value : dropped) {
        push_diagnostic(
            Rule{Rule::ValueDropped{value.column, spec_->tables[table].name, value.length}},
            segment, std::nullopt, std::nullopt, value.bytes);
    }
}

void Projector::push_diagnostic(Rule rule, std::optional<std::uint64_t> segment,
                                std::optional<std::uint64_t> element,
                                std::optional<std::uint64_t> component, std::string_view datum) {
    std::vector<LoopRef> loops;
    loops.reserve(open_.size());
    for (const OpenLoop& loop : open_) {
        loops.push_back({spec_->loops[loop.loop].name, loop.instance});
    }
    const SnipLevel level = rule.level();
    diagnostics_.push_back(Diagnostic{segment, element, component, std::move(rule),
                                      std::move(loops), std::string(datum), level});
}

}  // namespace remitrax
