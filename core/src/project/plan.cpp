// Building the projection plans of a spec once per projector: what each segment id checks,
// keeps and fills, and the column type of every table column.
#include "project/plan.hpp"

#include <algorithm>
#include <utility>
#include <variant>

namespace remitrax {

namespace {

// The element position that a group column reads in the first repeat group; nothing when the
// table has no segment or repeat, or when the position does not fit.
std::optional<std::uint64_t> first_group_position(const TableDef& table, std::uint64_t offset) {
    if (!table.segment || !table.repeat) {
        return std::nullopt;
    }
    std::uint64_t position = 0;
    if (__builtin_add_overflow(table.repeat->from, offset, &position)) {
        return std::nullopt;
    }
    return position;
}

}  // namespace

ColumnType column_type_of(ElementType type) {
    switch (type.kind) {
        case ElementKind::AN:
        case ElementKind::ID:
            return ColumnType::binary();
        case ElementKind::N:
            return ColumnType::int64(type.param);
        case ElementKind::R:
            return ColumnType::decimal128(38, type.param);
        case ElementKind::DT:
            return ColumnType::date32();
        case ElementKind::TM:
            return ColumnType::time32();
    }
    return ColumnType::binary();
}

ColumnType column_type(const Spec& spec, const TableDef& table, const ColumnSource& source) {
    const ElementDef* def = nullptr;
    if (const auto* element = std::get_if<ColumnSource::Element>(&source.kind)) {
        def = spec.element_def(element->segment, element->element, element->component);
    } else if (const auto* group = std::get_if<ColumnSource::GroupElement>(&source.kind)) {
        if (const auto position = first_group_position(table, group->offset)) {
            def = spec.element_def(*table.segment, *position, group->component);
        }
    } else {
        return ColumnType::int64(0);
    }
    return def ? column_type_of(def->type) : ColumnType::binary();
}

CodeSet CodeSet::of(const std::vector<std::string>& codes) {
    CodeSet set;
    set.keys.reserve(codes.size());
    for (const std::string& code : codes) {
        if (const std::uint64_t key = bytes::key(code); key != 0) {
            set.keys.push_back(key);
        } else {
            set.complete = false;
        }
    }
    std::ranges::sort(set.keys);
    // At most a quarter full, so that a lookup nearly always settles at its first bucket.
    std::size_t size = 1;
    while (size < 4 * set.keys.size()) {
        size *= 2;
    }
    set.table_.assign(size, 0);
    set.mask_ = size - 1;
    for (const std::uint64_t key : set.keys) {
        std::size_t i = set.bucket_of(key);
        while (set.table_[i] != 0 && set.table_[i] != key) {
            i = (i + 1) & set.mask_;
        }
        set.table_[i] = key;
    }
    return set;
}

bool CodeSet::contains_long(std::string_view text, const std::vector<std::string>& codes) {
    // The codes are sorted bytewise; string comparison orders bytes as unsigned values.
    return std::ranges::binary_search(codes, text, std::less<>{});
}

ElementPlan ElementPlan::create(std::uint64_t position, const ElementDef& def) {
    ElementPlan plan;
    plan.def = &def;
    plan.position = position;
    plan.column_type = column_type_of(def.type);
    plan.codes = CodeSet::of(def.codes);
    plan.components.reserve(def.composite.size());
    for (const auto& [component, component_def] : def.composite) {
        plan.components.push_back({component, &component_def, column_type_of(component_def.type),
                                   false, CodeSet::of(component_def.codes), 0});
    }
    if (!def.composite.empty()) {
        plan.max_component = def.composite.rbegin()->first;
    }
    return plan;
}

Plans Plans::build(const Spec& spec) {
    Plans plans;
    const std::size_t loop_count = spec.loops.size();
    for (const auto& [id, def] : spec.segments) {
        SegmentPlan& plan = plans.entry(id, loop_count);
        plan.elements.clear();
        plan.required.clear();
        plan.elements.reserve(def.size());
        for (const auto& [position, element] : def) {
            if (element.required) {
                plan.required.push_back(plan.elements.size());
            }
            plan.elements.push_back(ElementPlan::create(position, element));
        }
    }
    for (TableIndex t = 0; t < spec.tables.size(); ++t) {
        const TableDef& table = spec.tables[t];
        // A segment-anchored table fills its rows from its own segment, so none of its
        // columns is attached to a loop.
        if (!table.segment) {
            for (std::size_t c = 0; c < table.columns.size(); ++c) {
                const ColumnSource& source = table.columns[c].second;
                const std::string* segment = nullptr;
                std::optional<LoopId> loop;
                if (const auto* element = std::get_if<ColumnSource::Element>(&source.kind)) {
                    segment = &element->segment;
                    loop = element->loop;
                } else if (const auto* index =
                               std::get_if<ColumnSource::SegmentIndex>(&source.kind)) {
                    segment = &index->segment;
                    loop = index->loop;
                } else {
                    continue;
                }
                SegmentPlan& plan = plans.entry(*segment, loop_count);
                if (loop) {
                    plan.by_loop[*loop].push_back({t, c});
                } else {
                    for (const LoopId anchor : table.loops) {
                        plan.by_loop[anchor].push_back({t, c});
                    }
                }
            }
        }
        plans.mark_columns(spec, table);
    }
    const auto number = [](SegmentPlan& plan) {
        plan.kept = 0;
        for (ElementPlan& element : plan.elements) {
            if (element.components.empty()) {
                if (element.keep) {
                    element.slot = plan.kept++;
                }
                continue;
            }
            for (ComponentPlan& part : element.components) {
                if (part.keep) {
                    part.slot = plan.kept++;
                }
            }
        }
    };
    for (auto& entry : plans.short_) {
        number(entry.second);
    }
    for (auto& entry : plans.long_) {
        number(entry.second);
    }
    return plans;
}

template <typename Self>
auto Plans::find_in(Self& self, std::string_view id) -> decltype(&self.short_.begin()->second) {
    if (const std::uint64_t key = bytes::key(id); key != 0) {
        const auto found = self.short_.find(key);
        return found == self.short_.end() ? nullptr : &found->second;
    }
    const auto found = self.long_.find(id);
    return found == self.long_.end() ? nullptr : &found->second;
}

const SegmentPlan* Plans::get(std::string_view id) const {
    return find_in(*this, id);
}

SegmentPlan* Plans::find(std::string_view id) {
    return find_in(*this, id);
}

SegmentPlan& Plans::entry(std::string_view id, std::size_t loop_count) {
    if (SegmentPlan* plan = find(id)) {
        return *plan;
    }
    SegmentPlan plan;
    plan.by_loop.resize(loop_count);
    if (const std::uint64_t key = bytes::key(id); key != 0) {
        return short_.emplace(key, std::move(plan)).first->second;
    }
    return long_.emplace(std::string(id), std::move(plan)).first->second;
}

void Plans::mark(ElementPlan& element, std::optional<std::uint64_t> component) {
    if (!component) {
        element.keep = true;
        return;
    }
    const auto part = std::ranges::lower_bound(element.components, *component, std::less<>{},
                                               &ComponentPlan::position);
    if (part != element.components.end() && part->position == *component) {
        part->keep = true;
    }
}

void Plans::mark_columns(const Spec& /*spec*/, const TableDef& table) {
    for (const auto& [name, source] : table.columns) {
        if (const auto* element = std::get_if<ColumnSource::Element>(&source.kind)) {
            // In a segment-anchored table the column's segment is the table's own.
            SegmentPlan* plan = find(element->segment);
            if (plan == nullptr) {
                continue;
            }
            const auto found = std::ranges::lower_bound(plan->elements, element->element,
                                                        std::less<>{}, &ElementPlan::position);
            if (found != plan->elements.end() && found->position == element->element) {
                mark(*found, element->component);
            }
        } else if (const auto* group = std::get_if<ColumnSource::GroupElement>(&source.kind)) {
            const auto base = first_group_position(table, group->offset);
            const std::uint64_t step = table.repeat ? table.repeat->step : 0;
            SegmentPlan* plan = base ? find(*table.segment) : nullptr;
            // A step of 0 defines no groups; compiled tables never have one.
            if (plan == nullptr || step == 0) {
                continue;
            }
            for (ElementPlan& candidate : plan->elements) {
                if (candidate.position >= *base && (candidate.position - *base) % step == 0) {
                    mark(candidate, group->component);
                }
            }
        }
    }
}

std::uint32_t SegmentPlan::slot_of(std::uint64_t element, std::optional<std::uint64_t> component,
                                   ColumnType type) const {
    const auto found =
        std::ranges::lower_bound(elements, element, std::less<>{}, &ElementPlan::position);
    if (found == elements.end() || found->position != element) {
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

PlanIndex PlanIndex::build(const Spec& spec, const Plans& plans) {
    PlanIndex index;
    const auto add = [&index](std::string_view id, const SegmentPlan* plan) {
        const std::uint32_t number = index.ids.add(id);
        index.plans.resize(index.ids.size(), nullptr);
        if (plan != nullptr) {
            index.plans[number] = plan;
        }
    };
    for (const auto& [key, plan] : plans.short_ids()) {
        add(bytes::text_of_key(key), &plan);
    }
    for (const auto& [id, plan] : plans.long_ids()) {
        add(id, &plan);
    }
    for (const TableDef& table : spec.tables) {
        if (table.segment) {
            add(*table.segment, nullptr);
        }
    }
    return index;
}

}  // namespace remitrax
