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
        if (element.is_composite() || element.value().bytes() != value) {
            return false;
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

Slot index_slot(std::uint64_t index) {
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
    column_slot_.resize(spec_->tables.size());
    for (TableIndex t = 0; t < spec_->tables.size(); ++t) {
        const TableDef& def = spec_->tables[t];
        column_slot_[t].assign(def.columns.size(), no_slot);
        for (std::size_t c = 0; c < def.columns.size(); ++c) {
            const auto* source = std::get_if<ColumnSource::Element>(&def.columns[c].second.kind);
            if (source == nullptr) {
                continue;
            }
            // The rows of a segment-anchored table read their own segment.
            const SegmentPlan* plan = plans_.get(def.segment ? *def.segment : source->segment);
            if (plan == nullptr) {
                continue;
            }
            column_slot_[t][c] =
                slot_of(*plan, source->element, source->component, tables_[t].types[c]);
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

Slot Projector::read_value(std::uint32_t slot, const Segment& segment, std::uint64_t element,
                           std::optional<std::uint64_t> component, ColumnType type,
                           std::string& text) {
    if (slot == no_slot) {
        return fill::read({}, segment, {element, component, type}, component_separator_, scratch_,
                          text);
    }
    // A kept value the last check did not stamp had no text.
    const Kept& kept = kept_[slot];
    if (kept.stamp != stamp_) {
        return cell::Null{};
    }
    return fill::from_kept(kept.value, segment, element, component, component_separator_, scratch_,
                           text);
}

std::span<const Diagnostic> Projector::on(const Segment& segment, std::span<const Event> events) {
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
                placed(segment, event.loop(), event.segment());
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
        const auto dropped = fill::append(state.row, state.table, cells_);
        report_dropped(dropped, *table, state.row.segment);
    }
    open_.pop_back();
}

void Projector::placed(const Segment& segment, LoopId loop, std::uint64_t index) {
    if (loop >= instances_.size()) {
        return;
    }
    const std::uint32_t id = ids_.find(segment.id());
    const SegmentPlan* plan = id == IdIndex::unknown ? nullptr : plan_of_[id];
    if (plan != nullptr) {
        check_segment(segment, *plan, index);
        fill_columns(segment, *plan, loop, index);
    } else {
        checked_plan_ = nullptr;
    }
    for (const TableIndex table : segment_tables_[loop]) {
        const TableDef& def = spec_->tables[table];
        if (id == IdIndex::unknown || table_segment_[table] != id) {
            continue;
        }
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

void Projector::fill_columns(const Segment& segment, const SegmentPlan& plan, LoopId loop,
                             std::uint64_t index) {
    if (loop >= plan.by_loop.size()) {
        return;
    }
    for (const ColumnRef& ref : plan.by_loop[loop]) {
        TableState& state = tables_[ref.table];
        if (!state.row_open || !std::holds_alternative<slot::Unset>(state.row.slots[ref.column])) {
            continue;
        }
        // The plan lists a column under the id of the segment it reads, which is this one.
        const ColumnSource& source = spec_->tables[ref.table].columns[ref.column].second;
        if (const auto* element = std::get_if<ColumnSource::Element>(&source.kind)) {
            if (conditions_hold(element->conditions, segment)) {
                state.row.slots[ref.column] =
                    read_value(column_slot_[ref.table][ref.column], segment, element->element,
                               element->component, state.types[ref.column], state.row.text);
            }
        } else if (const auto* position = std::get_if<ColumnSource::SegmentIndex>(&source.kind)) {
            if (conditions_hold(position->conditions, segment)) {
                state.row.slots[ref.column] = index_slot(index);
            }
        }
    }
}

void Projector::segment_row(TableIndex table, std::optional<std::uint64_t> group,
                            const Segment& segment, std::uint64_t index) {
    TableState& state = tables_[table];
    const TableDef& def = spec_->tables[table];
    Row& row = state.row;
    set_parents(table, row);
    row.text.clear();
    row.slots.resize(def.columns.size());
    for (std::size_t c = 0; c < def.columns.size(); ++c) {
        const ColumnSource& source = def.columns[c].second;
        Slot value = cell::Null{};
        if (const auto* element = std::get_if<ColumnSource::Element>(&source.kind)) {
            value = read_value(column_slot_[table][c], segment, element->element,
                               element->component, state.types[c], row.text);
        } else if (std::holds_alternative<ColumnSource::SegmentIndex>(source.kind)) {
            value = index_slot(index);
        } else {
            const auto& member = std::get<ColumnSource::GroupElement>(source.kind);
            std::uint64_t position = 0;
            if (group && !__builtin_add_overflow(*group, member.offset, &position)) {
                const std::uint32_t slot =
                    checked_plan_ == nullptr
                        ? no_slot
                        : slot_of(*checked_plan_, position, member.component, state.types[c]);
                value =
                    read_value(slot, segment, position, member.component, state.types[c], row.text);
            }
        }
        row.slots[c] = value;
    }
    row.number = state.counter;
    saturating_increment(state.counter);
    row.segment = index;
    const auto dropped = fill::append(row, state.table, cells_);
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
