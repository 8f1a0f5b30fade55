// Compiling the tables section of a spec into table definitions, refusing every layout the
// projector could not fill unambiguously.
#include "spec/tables.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_set>
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

// The first anchor, in list order, that has another anchor inside it, and the first anchor, in
// list order, inside that one.
std::optional<std::pair<LoopId, LoopId>> nested_anchors(const LoopNesting& nesting,
                                                        std::span<const LoopId> anchors) {
    // Each anchor's number in the walk and its place in the list, by number: the anchors inside
    // one are a run of this list.
    std::vector<std::pair<std::size_t, std::size_t>> walked;
    walked.reserve(anchors.size());
    for (std::size_t place = 0; place < anchors.size(); ++place) {
        walked.emplace_back(nesting.entered(anchors[place]), place);
    }
    std::ranges::sort(walked);
    for (const LoopId outer : anchors) {
        auto inside = std::ranges::upper_bound(walked, std::pair{nesting.entered(outer), SIZE_MAX});
        std::optional<std::size_t> first;
        for (; inside != walked.end() && inside->first < nesting.left(outer); ++inside) {
            first = std::min(first.value_or(SIZE_MAX), inside->second);
        }
        if (first) {
            return std::pair{outer, anchors[*first]};
        }
    }
    return std::nullopt;
}

[[nodiscard]] std::expected<TableDef, SpecError> compile_table(const Spec& spec,
                                                               const LoopNesting& nesting,
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
    std::unordered_set<LoopId> listed;
    listed.reserve(raw->loops.size());
    for (const std::string& loop : raw->loops) {
        const auto id = spec.loop_id(loop);
        if (!id) {
            return bad_table(name, {E::UnknownLoop{loop}});
        }
        if (!listed.insert(*id).second) {
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
        if (const auto nested = nested_anchors(nesting, table.loops)) {
            return bad_table(name, {E::NestedAnchors{spec.loops[nested->first].name,
                                                     spec.loops[nested->second].name}});
        }
    }

    table.columns.reserve(raw->columns.size());
    for (const auto& [column, column_value] : raw->columns) {
        auto source = compile_column(spec, nesting, table, column, *column_value);
        if (!source) {
            return std::unexpected(std::move(source.error()));
        }
        table.columns.emplace_back(column, std::move(*source));
    }
    return table;
}

// Chains of loop-anchored tables, outermost first, each kept once and named by a number:
// chain 0 is empty, and every other chain is a shorter one with one more table inside it, so
// two chains are equal exactly when their numbers are.
class Chains {
  public:
    // The chain `outer` with `table` inside it.
    std::size_t extend(std::size_t outer, TableIndex table) {
        const auto [at, added] = known_.try_emplace({outer, table}, links_.size());
        if (added) {
            links_.push_back({outer, table, links_[outer].length + 1});
        }
        return at->second;
    }
    std::size_t length(std::size_t chain) const { return links_[chain].length; }
    // The chain's prefixes, one per length from 1, ending with the chain itself.
    std::vector<std::size_t> prefixes(std::size_t chain) const {
        std::vector<std::size_t> out(links_[chain].length);
        for (std::size_t at = out.size(); at > 0; chain = links_[chain].outer) {
            out[--at] = chain;
        }
        return out;
    }
    // The chain's tables, outermost first.
    std::vector<TableIndex> tables(std::size_t chain) const {
        std::vector<TableIndex> out;
        for (const std::size_t prefix : prefixes(chain)) {
            out.push_back(links_[prefix].table);
        }
        return out;
    }

  private:
    struct Link {
        std::size_t outer;
        TableIndex table;
        std::size_t length;
    };
    std::vector<Link> links_{{0, 0, 0}};
    std::map<std::pair<std::size_t, TableIndex>, std::size_t> known_;
};

// For each loop, the chain of the loop-anchored tables enclosing it, the loop itself included.
// Each loop is worked out once, from its parent's chain.
std::vector<std::size_t> enclosing_chains(std::span<const LoopDef> loops,
                                          std::span<const std::optional<TableIndex>> owner,
                                          Chains& chains) {
    constexpr std::size_t unknown = SIZE_MAX;
    std::vector<std::size_t> chain(loops.size(), unknown);
    std::vector<LoopId> path;
    for (LoopId start = 0; start < loops.size(); ++start) {
        path.clear();
        for (auto at = std::optional<LoopId>(start); at && chain[*at] == unknown;
             at = loops[*at].parent) {
            path.push_back(*at);
        }
        for (auto at = path.rbegin(); at != path.rend(); ++at) {
            const auto parent = loops[*at].parent;
            const std::size_t outer = parent ? chain[*parent] : 0;
            chain[*at] = owner[*at] ? chains.extend(outer, *owner[*at]) : outer;
        }
    }
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

LoopNesting::LoopNesting(const Spec& spec)
    : entered_(spec.loops.size(), 0), left_(spec.loops.size(), 0) {
    std::size_t number = 0;
    // The loops being walked, each with the place of its next child to enter.
    std::vector<std::pair<LoopId, std::size_t>> open;
    for (const LoopId root : spec.roots) {
        entered_[root] = number++;
        open.emplace_back(root, 0);
        while (!open.empty()) {
            auto& [loop, next] = open.back();
            const std::vector<LoopId>& children = spec.loops[loop].children;
            if (next == children.size()) {
                left_[loop] = number;
                open.pop_back();
                continue;
            }
            const LoopId child = children[next++];
            entered_[child] = number++;
            open.emplace_back(child, 0);
        }
    }
}

[[nodiscard]] std::expected<ColumnSource, SpecError> compile_column(const Spec& spec,
                                                                    const LoopNesting& nesting,
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
        for (const LoopId anchor : table.loops) {
            if (!nesting.encloses(anchor, *loop)) {
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

    // The first table of each ref.
    std::map<std::string_view, TableIndex> refs;
    for (TableIndex t = 0; t < tables.size(); ++t) {
        const auto [earlier, added] = refs.try_emplace(tables[t].ref, t);
        if (!added) {
            return bad_table(tables[t].name,
                             {E::RefTaken{tables[t].ref, tables[earlier->second].name}});
        }
    }

    Chains chains;
    const std::vector<std::size_t> enclosing = enclosing_chains(loops, owner, chains);
    std::vector<std::size_t> anchor_chains;
    std::vector<std::string_view> taken;
    for (TableDef& table : tables) {
        // A loop-anchored table is not its own ancestor, so its chain is the one above the anchor.
        anchor_chains.clear();
        std::size_t longest = 0;
        for (std::size_t i = 0; i < table.loops.size(); ++i) {
            const LoopId anchor = table.loops[i];
            const auto start = table.segment ? std::optional<LoopId>(anchor) : loops[anchor].parent;
            anchor_chains.push_back(start ? enclosing[*start] : 0);
            if (chains.length(anchor_chains[i]) > chains.length(anchor_chains[longest])) {
                longest = i;
            }
        }
        // Every anchor's chain must be a prefix of the longest one: the prefix of its length.
        const std::vector<std::size_t> prefixes = chains.prefixes(anchor_chains[longest]);
        for (std::size_t i = 0; i < anchor_chains.size(); ++i) {
            const std::size_t length = chains.length(anchor_chains[i]);
            if (length > 0 && prefixes[length - 1] != anchor_chains[i]) {
                return bad_table(
                    table.name,
                    {E::UnrelatedAnchors{loops[table.loops[longest]].name,
                                         table_names(tables, chains.tables(anchor_chains[longest])),
                                         loops[table.loops[i]].name,
                                         table_names(tables, chains.tables(anchor_chains[i]))}});
            }
        }
        const std::vector<TableIndex> chain = chains.tables(anchor_chains[longest]);
        if (!chain.empty()) {
            taken.clear();
            for (const TableIndex ancestor : chain) {
                taken.push_back(tables[ancestor].ref);
            }
            std::ranges::sort(taken);
            for (const auto& [column, source] : table.columns) {
                if (std::ranges::binary_search(taken, std::string_view(column))) {
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
    const LoopNesting nesting(spec);
    for (const auto& [name, value] : tables) {
        auto table = compile_table(spec, nesting, name, *value);
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
