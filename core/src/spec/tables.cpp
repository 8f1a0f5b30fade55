// Compiling the tables section of a spec into table definitions, refusing every layout the
// projector could not fill unambiguously.
#include "spec/tables.hpp"

#include <algorithm>
#include <utility>

#include "base/text.hpp"
#include "spec/elements.hpp"
#include "spec/render.hpp"
#include "spec/spec.hpp"

namespace remitrax {

namespace {

std::unexpected<SpecError> bad_table(std::string_view table, TableDefError reason) {
    return std::unexpected(
        SpecError{SpecError::BadTable{std::string(table), std::nullopt, std::move(reason)}});
}

std::unexpected<SpecError> bad_column(std::string_view table, std::string_view column,
                                      TableDefError reason) {
    return std::unexpected(
        SpecError{SpecError::BadTable{std::string(table), std::string(column), std::move(reason)}});
}

std::unexpected<SpecError> empty_segment_id(std::string path) {
    return std::unexpected(SpecError{SpecError::EmptySegmentId{std::nullopt, std::move(path)}});
}

bool contains(std::span<const LoopId> ids, LoopId id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Compact JSON, with any invalid UTF-8 of a programmatically built document replaced rather
// than thrown on.
std::string compact(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The first of "segment", "loop" and a non-empty "where" that a column of a segment-anchored
// table gives, with its value as compact JSON.
std::optional<std::pair<std::string, std::string>> anchor_only_key(const RawColumn& raw) {
    if (raw.segment) {
        return std::pair{std::string("segment"), compact(*raw.segment)};
    }
    if (raw.loop) {
        return std::pair{std::string("loop"), compact(*raw.loop)};
    }
    if (!raw.where.empty()) {
        return std::pair{std::string("where"), compact(raw.where)};
    }
    return std::nullopt;
}

[[nodiscard]] std::expected<TableDef, SpecError> compile_table(const Spec& spec,
                                                               const std::string& name,
                                                               const nlohmann::json& value) {
    using E = TableDefError;
    auto raw = read_table(value);
    if (!raw) {
        return std::unexpected(
            SpecError{SpecError::TableSchema{name, std::nullopt, std::move(raw.error())}});
    }
    if (name.empty()) {
        return bad_table(name, {E::Empty{"table name"}});
    }
    if (raw->loops.empty()) {
        return bad_table(name, {E::NoLoops{}});
    }

    TableDef table;
    table.name = name;
    for (const std::string& loop : raw->loops) {
        const auto id = spec.loop_id(loop);
        if (!id) {
            return bad_table(name, {E::UnknownLoop{loop}});
        }
        if (contains(table.loops, *id)) {
            return bad_table(name, {E::DuplicateLoop{loop}});
        }
        table.loops.push_back(*id);
    }

    table.ref = raw->ref.value_or(name);
    if (table.ref == "row" || table.ref == "segment") {
        return bad_table(name, {E::ReservedName{table.ref}});
    }
    if (table.ref.empty()) {
        return bad_table(name, {E::Empty{"ref"}});
    }

    if (raw->segment) {
        if (raw->segment->empty()) {
            return empty_segment_id(child(child("tables", name), "segment"));
        }
        if (raw->repeat) {
            if (raw->repeat->from == 0) {
                return bad_table(name, {E::ZeroPosition{"repeat.from"}});
            }
            if (raw->repeat->step == 0) {
                return bad_table(name, {E::ZeroStep{}});
            }
            table.repeat = Repeat{raw->repeat->from, raw->repeat->step};
        }
        if (auto held = check_held(spec.loops, table.loops, *raw->segment); !held) {
            return bad_table(name, std::move(held.error()));
        }
        table.segment = std::move(raw->segment);
    } else {
        if (raw->repeat) {
            return bad_table(name, {E::RepeatWithoutSegment{}});
        }
        std::vector<std::vector<LoopId>> ancestors;
        ancestors.reserve(table.loops.size());
        for (const LoopId inner : table.loops) {
            ancestors.push_back(spec.ancestors(inner));
        }
        for (const LoopId outer : table.loops) {
            for (std::size_t i = 0; i < table.loops.size(); ++i) {
                if (contains(ancestors[i], outer)) {
                    return bad_table(name, {E::NestedAnchors{spec.loops[outer].name,
                                                             spec.loops[table.loops[i]].name}});
                }
            }
        }
    }

    table.columns.reserve(raw->columns.size());
    for (const auto& [column, column_value] : raw->columns) {
        auto source = compile_column(spec, table, column, *column_value);
        if (!source) {
            return std::unexpected(std::move(source.error()));
        }
        table.columns.emplace_back(column, std::move(*source));
    }
    return table;
}

// The loop-anchored tables enclosing `start` (the loop itself included), outermost first.
std::vector<TableIndex> chain_from(std::span<const LoopDef> loops,
                                   std::span<const std::optional<TableIndex>> owner,
                                   std::optional<LoopId> start) {
    std::vector<TableIndex> chain;
    for (auto at = start; at; at = loops[*at].parent) {
        if (const auto table = owner[*at]) {
            chain.push_back(*table);
        }
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

std::vector<std::string> table_names(std::span<const TableDef> tables,
                                     std::span<const TableIndex> chain) {
    std::vector<std::string> names;
    names.reserve(chain.size());
    for (const TableIndex index : chain) {
        names.push_back(tables[index].name);
    }
    return names;
}

}  // namespace

[[nodiscard]] std::expected<void, TableDefError> check_held(std::span<const LoopDef> loops,
                                                            std::span<const LoopId> ids,
                                                            std::string_view segment) {
    for (const LoopId id : ids) {
        const LoopDef& loop = loops[id];
        const bool held =
            loop.trigger.segment == segment ||
            std::find(loop.segments.begin(), loop.segments.end(), segment) != loop.segments.end() ||
            (loop.end && *loop.end == segment);
        if (!held) {
            return std::unexpected(
                TableDefError{TableDefError::SegmentNotHeld{lossy_utf8(segment), loop.name}});
        }
    }
    return {};
}

[[nodiscard]] std::expected<ColumnSource, SpecError> compile_column(const Spec& spec,
                                                                    const TableDef& table,
                                                                    std::string_view name,
                                                                    const nlohmann::json& value) {
    using E = TableDefError;
    using S = ColumnSource;
    auto raw = read_column(value);
    if (!raw) {
        return std::unexpected(SpecError{
            SpecError::TableSchema{table.name, std::string(name), std::move(raw.error())}});
    }
    const auto fail = [&](TableDefError reason) {
        return bad_column(table.name, name, std::move(reason));
    };
    if (name.empty()) {
        return fail({E::Empty{"column name"}});
    }
    if (name == "segment" || name == "row") {
        return fail({E::ReservedName{std::string(name)}});
    }
    const std::size_t sources = static_cast<std::size_t>(raw->element.has_value()) +
                                static_cast<std::size_t>(raw->group_element.has_value()) +
                                static_cast<std::size_t>(raw->segment_index);
    if (sources != 1) {
        return fail({E::SourceCount{sources}});
    }
    if (raw->segment_index && raw->component) {
        return fail({E::ComponentOnIndex{}});
    }
    if (raw->element == 0U) {
        return fail({E::ZeroPosition{"element"}});
    }
    if (raw->component == 0U) {
        return fail({E::ZeroPosition{"component"}});
    }

    if (table.segment) {
        if (auto key = anchor_only_key(*raw)) {
            return fail({E::AnchorSegmentOnly{std::move(key->first), std::move(key->second),
                                              *table.segment}});
        }
        if (raw->group_element) {
            if (!table.repeat) {
                return fail({E::GroupWithoutRepeat{}});
            }
            if (*raw->group_element >= table.repeat->step) {
                return fail({E::OffsetBeyondStep{*raw->group_element, table.repeat->step}});
            }
            return S{S::GroupElement{*raw->group_element, raw->component}};
        }
        if (raw->element) {
            return S{S::Element{std::nullopt, *table.segment, {}, *raw->element, raw->component}};
        }
        return S{S::SegmentIndex{std::nullopt, *table.segment, {}}};
    }

    if (raw->group_element) {
        return fail({E::GroupWithoutRepeat{}});
    }
    if (!raw->segment) {
        return fail({E::NeedsSegment{}});
    }
    if (raw->segment->empty()) {
        return empty_segment_id(
            child(child(child(child("tables", table.name), "columns"), name), "segment"));
    }
    std::optional<LoopId> loop;
    if (raw->loop) {
        loop = spec.loop_id(*raw->loop);
        if (!loop) {
            return fail({E::UnknownLoop{*raw->loop}});
        }
        const std::vector<LoopId> ancestors = spec.ancestors(*loop);
        for (const LoopId anchor : table.loops) {
            if (!contains(ancestors, anchor)) {
                return fail({E::NotADescendant{*raw->loop, spec.loops[anchor].name}});
            }
        }
    }
    S::Conditions conditions;
    conditions.reserve(raw->where.size());
    for (auto& [key, expected] : raw->where) {
        const auto position = parse_position(key);
        if (!position) {
            return fail({E::BadPosition{key}});
        }
        conditions.emplace_back(*position, std::move(expected));
    }
    std::sort(conditions.begin(), conditions.end());
    const std::span<const LoopId> readers =
        loop ? std::span<const LoopId>(&*loop, 1) : std::span<const LoopId>(table.loops);
    if (auto held = check_held(spec.loops, readers, *raw->segment); !held) {
        return fail(std::move(held.error()));
    }
    if (raw->element) {
        return S{S::Element{loop, std::move(*raw->segment), std::move(conditions), *raw->element,
                            raw->component}};
    }
    return S{S::SegmentIndex{loop, std::move(*raw->segment), std::move(conditions)}};
}

[[nodiscard]] std::expected<void, SpecError> link_tables(std::span<const LoopDef> loops,
                                                         std::vector<TableDef>& tables) {
    using E = TableDefError;
    // The loop-anchored table of each loop; segment-anchored tables own no loop.
    std::vector<std::optional<TableIndex>> owner(loops.size());
    for (TableIndex t = 0; t < tables.size(); ++t) {
        const TableDef& table = tables[t];
        if (table.segment) {
            continue;
        }
        for (const LoopId anchor : table.loops) {
            if (const auto earlier = owner[anchor]) {
                return bad_table(table.name,
                                 {E::SharedAnchor{loops[anchor].name, tables[*earlier].name}});
            }
            owner[anchor] = t;
        }
    }

    for (TableIndex t = 0; t < tables.size(); ++t) {
        for (TableIndex u = 0; u < t; ++u) {
            if (tables[u].ref == tables[t].ref) {
                return bad_table(tables[t].name, {E::RefTaken{tables[t].ref, tables[u].name}});
            }
        }
    }

    for (TableDef& table : tables) {
        // A loop-anchored table is not its own ancestor, so its walk starts above the anchor.
        std::vector<std::vector<TableIndex>> chains;
        chains.reserve(table.loops.size());
        std::size_t longest = 0;
        for (std::size_t i = 0; i < table.loops.size(); ++i) {
            const LoopId anchor = table.loops[i];
            chains.push_back(
                chain_from(loops, owner,
                           table.segment ? std::optional<LoopId>(anchor) : loops[anchor].parent));
            if (chains[i].size() > chains[longest].size()) {
                longest = i;
            }
        }
        const std::vector<TableIndex>& chain = chains[longest];
        for (std::size_t i = 0; i < chains.size(); ++i) {
            if (!std::equal(chains[i].begin(), chains[i].end(), chain.begin())) {
                return bad_table(table.name,
                                 {E::UnrelatedAnchors{
                                     loops[table.loops[longest]].name, table_names(tables, chain),
                                     loops[table.loops[i]].name, table_names(tables, chains[i])}});
            }
        }
        for (const auto& [column, source] : table.columns) {
            for (const TableIndex ancestor : chain) {
                if (column == tables[ancestor].ref) {
                    return bad_column(table.name, column, {E::ReservedName{column}});
                }
            }
        }
        table.parent = chain.empty() ? std::nullopt : std::optional<TableIndex>(chain.back());
        table.ancestors = chain;
    }
    return {};
}

[[nodiscard]] std::expected<std::vector<TableDef>, SpecError> compile_tables(
    const Spec& spec, const RawMembers& tables) {
    std::vector<TableDef> out;
    out.reserve(tables.size());
    for (const auto& [name, value] : tables) {
        auto table = compile_table(spec, name, *value);
        if (!table) {
            return std::unexpected(std::move(table.error()));
        }
        out.push_back(std::move(*table));
    }
    if (auto linked = link_tables(spec.loops, out); !linked) {
        return std::unexpected(std::move(linked.error()));
    }
    return out;
}

}  // namespace remitrax
