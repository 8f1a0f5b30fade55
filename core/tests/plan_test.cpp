// Projection plans: the two key spaces, the element-to-column type mapping, element plans, the
// columns attached to loops and the keep flags set by table columns.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/bytes.hpp"
#include "column/types.hpp"
#include "project/plan.hpp"
#include "spec/spec.hpp"

namespace {

using namespace remitrax;
using namespace std::literals;

using ByLoop = std::vector<std::vector<ColumnRef>>;

constexpr ColumnType Binary = ColumnType::binary();

// Loop "top" holds loops "a" and "b"; "c" sits inside "a".
constexpr std::string_view loops_json = R"({
    "top": {"trigger": {"segment": "ST"}, "segments": ["CAS", "SVC", "NM1", "UNDEF"]},
    "a": {"parent": "top", "trigger": {"segment": "LA"}, "segments": ["CAS", "SVC", "UNDEF"]},
    "b": {"parent": "top", "trigger": {"segment": "LB"}, "segments": ["NM1", "UNDEF"]},
    "c": {"parent": "a", "trigger": {"segment": "LC"}, "segments": ["NM1"]}})";

// CAS (19 elements) is added by `build`.
constexpr std::string_view segments_json = R"({
    "SVC": {"elements": {
        "1": {"name": "procedure", "type": "AN", "composite": {
            "1": {"name": "qualifier", "type": "ID"}, "2": {"name": "code", "type": "AN"},
            "5": {"name": "units", "type": "N2"}}},
        "2": {"name": "charge", "type": "R", "scale": 4}, "3": {"name": "date", "type": "DT"}}},
    "NM1": {"elements": {"1": {"name": "entity", "type": "ID"},
                         "3": {"name": "last", "type": "AN"}}}})";

struct Built {
    std::shared_ptr<const Spec> spec;
    Plans plans;

    LoopId loop(std::string_view name) const { return spec->loop_id(name).value(); }
    ColumnRef column(std::string_view table, std::string_view column_name) const {
        for (TableIndex t = 0; t < spec->tables.size(); ++t) {
            for (std::size_t c = 0; c < spec->tables[t].columns.size(); ++c) {
                if (spec->tables[t].name == table &&
                    spec->tables[t].columns[c].first == column_name) {
                    return {t, c};
                }
            }
        }
        throw std::out_of_range(std::string(column_name));
    }
    ColumnType type(std::string_view table, std::string_view column_name) const {
        const ColumnRef ref = column(table, column_name);
        const TableDef& def = spec->tables[ref.table];
        return column_type(*spec, def, def.columns[ref.column].second);
    }
    const SegmentPlan& plan(std::string_view id) const {
        const SegmentPlan* found = plans.get(id);
        return found != nullptr ? *found : throw std::out_of_range(std::string(id));
    }
};

// Builds the plans of the small spec above with `tables` (the members of a JSON object).
// CAS01 is ID; from CAS02 on, groups of three are ID, R with scale position / 3, and N1.
Built build(std::string_view tables) {
    nlohmann::json segments = nlohmann::json::parse(segments_json);
    for (unsigned i = 1; i <= 19; ++i) {
        nlohmann::json element = {{"name", "e" + std::to_string(i)}, {"type", "ID"}};
        if (i % 3 == 0) {
            element = {{"name", element["name"]}, {"type", "R"}, {"scale", i / 3}};
        } else if (i % 3 == 1 && i > 1) {
            element["type"] = "N1";
        }
        segments["CAS"]["elements"][std::to_string(i)] = element;
    }
    const nlohmann::json document = {
        {"name", "t"},
        {"loops", nlohmann::json::parse(loops_json)},
        {"segments", segments},
        {"tables", nlohmann::json::parse("{" + std::string(tables) + "}")}};
    auto spec = Spec::from_value(document);
    if (!spec) {
        throw std::runtime_error(spec.error().to_string());
    }
    Plans plans = Plans::build(**spec);
    return {std::move(*spec), std::move(plans)};
}

// The keep flags set: element e kept whole as e * 100, its component k kept as e * 100 + k.
std::set<std::uint64_t> marks(const SegmentPlan& plan) {
    std::set<std::uint64_t> keys;
    for (const ElementPlan& element : plan.elements) {
        if (element.keep) {
            keys.insert(element.position * 100);
        }
        for (const ComponentPlan& component : element.components) {
            if (component.keep) {
                keys.insert(element.position * 100 + component.position);
            }
        }
    }
    return keys;
}

TEST(PlansKeys, EntryAndGetChooseTheMapByLength) {
    Plans plans;
    const std::string_view ids[] = {"ABCDEFG", "ABCDEFGH", "", std::string_view("\0", 1),
                                    "N1",      "ABCDEFGHI"};
    for (std::size_t i = 0; i < std::size(ids); ++i) {
        SegmentPlan& plan = plans.entry(ids[i], 3);
        EXPECT_TRUE(plan.elements.empty());
        ASSERT_EQ(plan.by_loop.size(), 3U);
        plan.by_loop[0].push_back({i, 0});  // tells the plans apart
    }
    EXPECT_EQ(plans.short_ids().size(), 4U);
    EXPECT_TRUE(plans.short_ids().contains(bytes::key("ABCDEFG")));
    EXPECT_EQ(plans.long_ids().size(), 2U);
    EXPECT_TRUE(plans.long_ids().contains("ABCDEFGH"));
    for (std::size_t i = 0; i < std::size(ids); ++i) {
        ASSERT_NE(plans.get(ids[i]), nullptr) << ids[i];
        EXPECT_EQ(plans.get(ids[i])->by_loop[0], (std::vector<ColumnRef>{{i, 0}})) << ids[i];
    }
    for (const std::string_view absent : {"ABCDEF"sv, "ABCDEFGHIJ"sv, "N"sv, "\0\0"sv}) {
        EXPECT_EQ(plans.get(absent), nullptr) << absent;
    }
    // An existing plan is returned as it is, whatever loop count is asked for.
    EXPECT_EQ(&plans.entry("ABCDEFGH", 7), plans.get("ABCDEFGH"));
    EXPECT_EQ(plans.get("ABCDEFGH")->by_loop.size(), 3U);
}

TEST(PlansTypes, ElementTypesMapToColumnTypes) {
    const std::pair<ElementType, ColumnType> cases[] = {
        {{ElementKind::AN, 0}, Binary},
        {{ElementKind::ID, 0}, Binary},
        {{ElementKind::N, 9}, ColumnType::int64(9)},
        {{ElementKind::R, 18}, ColumnType::decimal128(38, 18)},
        {{ElementKind::DT, 0}, ColumnType::date32()},
        {{ElementKind::TM, 0}, ColumnType::time32()}};
    for (const auto& [element, column] : cases) {
        EXPECT_EQ(column_type_of(element), column) << element.to_string();
    }
}

TEST(PlansTypes, ColumnTypesFollowTheElementReadOrFallBackToBinary) {
    const Built built = build(R"(
        "t": {"loops": ["a"], "columns": {
            "charge": {"segment": "SVC", "element": 2},
            "units": {"segment": "SVC", "element": 1, "component": 5},
            "no_element": {"segment": "SVC", "element": 9},
            "no_component": {"segment": "SVC", "element": 3, "component": 1},
            "no_segment": {"segment": "UNDEF", "element": 1},
            "index": {"segment": "SVC", "segment_index": true}}},
        "g": {"loops": ["a"], "segment": "CAS", "repeat": {"from": 2, "step": 3}, "columns": {
            "amount": {"group_element": 1}, "quantity": {"group_element": 2, "component": 1}}},
        "wrap": {"loops": ["a"], "segment": "CAS",
                 "repeat": {"from": 18446744073709551615, "step": 2},
                 "columns": {"last": {"group_element": 0}, "overflow": {"group_element": 1}}})");
    const std::tuple<std::string_view, std::string_view, ColumnType> cases[] = {
        {"t", "charge", ColumnType::decimal128(38, 4)},
        {"t", "units", ColumnType::int64(2)},
        {"t", "no_element", Binary},
        {"t", "no_component", Binary},
        {"t", "no_segment", Binary},
        {"t", "index", ColumnType::int64(0)},
        {"g", "amount", ColumnType::decimal128(38, 1)},  // CAS03, not CAS06 or CAS04
        {"g", "quantity", Binary},
        {"wrap", "last", Binary},
        {"wrap", "overflow", Binary}};
    for (const auto& [table, column, type] : cases) {
        EXPECT_EQ(built.type(table, column), type) << table << "." << column;
    }
}

TEST(PlansElements, ElementPlansFollowTheDefinitions) {
    const Built built = build("");
    const SegmentPlan& svc = built.plan("SVC");
    // Elements and their components, flattened as element * 100 (+ component), in order.
    std::vector<std::pair<std::uint64_t, ColumnType>> flat;
    for (const ElementPlan& plan : svc.elements) {
        EXPECT_EQ(plan.def, built.spec->element_def("SVC", plan.position));
        flat.emplace_back(plan.position * 100, plan.column_type);
        for (const ComponentPlan& part : plan.components) {
            EXPECT_EQ(part.def, built.spec->element_def("SVC", plan.position, part.position));
            flat.emplace_back(plan.position * 100 + part.position, part.column_type);
        }
    }
    const std::vector<std::pair<std::uint64_t, ColumnType>> expected = {
        {100, Binary},
        {101, Binary},
        {102, Binary},
        {105, ColumnType::int64(2)},
        {200, ColumnType::decimal128(38, 4)},
        {300, ColumnType::date32()}};
    EXPECT_EQ(flat, expected);
    EXPECT_EQ(svc.elements.at(0).max_component, 5U);
    EXPECT_EQ(svc.elements.at(1).max_component, 0U);
    // Without tables nothing is kept, nothing is attached and no other plan exists.
    for (const std::string_view id : {"SVC", "NM1", "CAS"}) {
        EXPECT_TRUE(marks(built.plan(id)).empty()) << id;
        EXPECT_EQ(built.plan(id).by_loop, ByLoop(built.spec->loops.size())) << id;
    }
    EXPECT_EQ(built.plans.short_ids().size(), 3U);
}

TEST(PlansAttach, ColumnsAttachToTheirLoopOrToEveryAnchor) {
    const Built built = build(R"(
        "both": {"loops": ["a", "b"], "columns": {
            "x_code": {"segment": "UNDEF", "element": 2},
            "y_index": {"segment": "UNDEF", "segment_index": true}}},
        "outer": {"loops": ["top"], "columns": {
            "inner": {"loop": "c", "segment": "NM1", "element": 1},
            "name": {"segment": "NM1", "element": 1}}},
        "groups": {"loops": ["a"], "segment": "CAS", "repeat": {"from": 2, "step": 3},
                   "columns": {"code": {"element": 1}, "amount": {"group_element": 1}}},
        "own": {"loops": ["a"], "segment": "SVC",
                "columns": {"charge": {"element": 2}, "at": {"segment_index": true}}})");
    // A segment that only columns read gets a plan without elements; a column without `loop`
    // is attached to every anchor, in column order.
    ByLoop undefined(built.spec->loops.size());
    undefined[built.loop("a")] = undefined[built.loop("b")] = {built.column("both", "x_code"),
                                                               built.column("both", "y_index")};
    EXPECT_EQ(built.plan("UNDEF").by_loop, undefined);
    EXPECT_TRUE(built.plan("UNDEF").elements.empty());
    // A column with `loop` is attached there only.
    ByLoop nm1(built.spec->loops.size());
    nm1[built.loop("c")] = {built.column("outer", "inner")};
    nm1[built.loop("top")] = {built.column("outer", "name")};
    EXPECT_EQ(built.plan("NM1").by_loop, nm1);
    // Segment-anchored tables attach nothing.
    EXPECT_EQ(built.plan("CAS").by_loop, ByLoop(built.spec->loops.size()));
    EXPECT_EQ(built.plan("SVC").by_loop, ByLoop(built.spec->loops.size()));
}

TEST(PlansMark, ElementColumnsMarkTheElementOrOnlyTheirComponent) {
    const std::pair<std::string_view, std::set<std::uint64_t>> cases[] = {
        {R"("t": {"loops": ["a"], "columns": {
                "code": {"segment": "SVC", "element": 1, "component": 2},
                "missing": {"segment": "SVC", "element": 1, "component": 3},
                "nowhere": {"segment": "SVC", "element": 7},
                "index": {"segment": "SVC", "segment_index": true}}})",
         {102}},
        {R"("t": {"loops": ["a"], "columns": {
                "code": {"segment": "SVC", "element": 1, "component": 2},
                "procedure": {"segment": "SVC", "element": 1},
                "date": {"segment": "SVC", "element": 3}}})",
         {100, 102, 300}},
        // A segment-anchored table marks in its own segment.
        {R"("s": {"loops": ["a"], "segment": "SVC", "columns": {
                "units": {"element": 1, "component": 5}, "charge": {"element": 2},
                "at": {"segment_index": true}}})",
         {105, 200}}};
    for (const auto& [tables, expected] : cases) {
        EXPECT_EQ(marks(build(tables).plan("SVC")), expected) << tables;
    }
    // Marking never creates a plan.
    EXPECT_EQ(build(R"("s": {"loops": ["a"], "segment": "UNDEF", "repeat": {"from": 1, "step": 1},
                       "columns": {"x": {"element": 1}, "y": {"group_element": 0}}})")
                  .plans.get("UNDEF"),
              nullptr);
}

TEST(PlansMark, GroupColumnsMarkEveryDefinedGroup) {
    const std::pair<std::string_view, std::set<std::uint64_t>> cases[] = {
        {R"("repeat": {"from": 2, "step": 3}, "columns": {"amount": {"group_element": 1}})",
         {300, 600, 900, 1200, 1500, 1800}},
        {R"("repeat": {"from": 2, "step": 3},
            "columns": {"code": {"element": 1}, "reason": {"group_element": 0}})",
         {100, 200, 500, 800, 1100, 1400, 1700}},
        {R"("repeat": {"from": 19, "step": 1}, "columns": {"first": {"group_element": 0}})",
         {1900}},
        {R"("repeat": {"from": 20, "step": 1}, "columns": {"first": {"group_element": 0}})", {}},
        {R"("repeat": {"from": 18446744073709551615, "step": 2},
            "columns": {"last": {"group_element": 0}, "overflow": {"group_element": 1}})",
         {}},
        // CAS elements have no components to mark.
        {R"("repeat": {"from": 2, "step": 3},
            "columns": {"part": {"group_element": 1, "component": 1}})",
         {}}};
    for (const auto& [table, expected] : cases) {
        const std::string tables =
            R"("g": {"loops": ["a"], "segment": "CAS", )" + std::string(table) + "}";
        EXPECT_EQ(marks(build(tables).plan("CAS")), expected) << table;
    }
}

TEST(PlansBuiltin, The835PlansFollowItsTables) {
    const auto spec = Spec::builtin_835();
    const Plans plans = Plans::build(*spec);
    // Every claims column reading CLP is attached to 2100 only, in column order, and keeps
    // the element it reads.
    ByLoop clp_by_loop(spec->loops.size());
    std::set<std::uint64_t> clp_marks;
    for (TableIndex t = 0; t < spec->tables.size(); ++t) {
        const auto& columns = spec->tables[t].columns;
        for (std::size_t c = 0; c < columns.size() && spec->tables[t].name == "claims"; ++c) {
            const auto* element = std::get_if<ColumnSource::Element>(&columns[c].second.kind);
            if (element != nullptr && element->segment == "CLP") {
                clp_by_loop[spec->loop_id("2100").value()].push_back({t, c});
                clp_marks.insert(element->element * 100);
            }
        }
    }
    ASSERT_FALSE(clp_marks.empty());
    ASSERT_NE(plans.get("CLP"), nullptr);
    EXPECT_EQ(plans.get("CLP")->by_loop, clp_by_loop);
    EXPECT_EQ(marks(*plans.get("CLP")), clp_marks);
    // Adjustments read CAS01 and, from CAS02 on, every element of every group.
    const SegmentPlan* cas = plans.get("CAS");
    ASSERT_NE(cas, nullptr);
    ASSERT_EQ(cas->elements.size(), spec->segments.at("CAS").size());
    for (const ElementPlan& element : cas->elements) {
        EXPECT_TRUE(element.keep) << element.position;
    }
    EXPECT_EQ(cas->by_loop, ByLoop(spec->loops.size()));
    // Services read components 1 and 2 of SVC01, never SVC01 whole; provider adjustments
    // (groups of two from PLB03) read components 1 and 2 of each group's first element and
    // the second element whole.
    ASSERT_NE(plans.get("SVC"), nullptr);
    ASSERT_NE(plans.get("PLB"), nullptr);
    const std::set<std::uint64_t> svc = marks(*plans.get("SVC"));
    const std::set<std::uint64_t> plb = marks(*plans.get("PLB"));
    EXPECT_EQ(std::set(svc.begin(), svc.lower_bound(200)), (std::set<std::uint64_t>{101, 102}));
    EXPECT_EQ(std::set(plb.begin(), plb.lower_bound(700)),
              (std::set<std::uint64_t>{100, 200, 301, 302, 400, 501, 502, 600}));
}

}  // namespace

namespace {

// Membership must match a plain search of the list whatever the mix of short codes, codes of
// eight bytes or more, codes that differ only by zero bytes, and the empty code.
TEST(PlansCodes, MembershipMatchesTheListItself) {
    std::mt19937_64 rng(835);
    const auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const std::string_view alphabet("AB0\0\xff", 5);
    const auto random_code = [&] {
        std::string code;
        const std::size_t length = below(5) == 0 ? 7 + below(4) : below(4);
        for (std::size_t i = 0; i < length; ++i) {
            code.push_back(alphabet[below(alphabet.size())]);
        }
        return code;
    };
    std::size_t hits = 0, misses = 0;
    for (int round = 0; round < 300; ++round) {
        std::set<std::string> distinct;
        const std::size_t count = below(4) == 0 ? below(200) : below(8);
        while (distinct.size() < count) {
            distinct.insert(random_code());
        }
        const std::vector<std::string> codes(distinct.begin(), distinct.end());
        const CodeSet set = CodeSet::of(codes);
        for (int probe = 0; probe < 200; ++probe) {
            const std::string text =
                !codes.empty() && below(2) == 0 ? codes[below(codes.size())] : random_code();
            const bool expected = distinct.contains(text);
            ASSERT_EQ(set.contains(text, codes, text), expected) << testing::PrintToString(text);
            ++(expected ? hits : misses);
        }
    }
    EXPECT_GT(hits, 10000u);
    EXPECT_GT(misses, 10000u);
}

// A code is found in its set whether it is read alone or from a window around it, whatever
// the window holds before and after it and however far it reaches.
TEST(PlansCodes, CodesAreFoundFromAnyWindowAroundThem) {
    std::mt19937_64 rng(8350);
    const auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const std::string_view alphabet("AB0\0\xff", 5);
    std::size_t keyed = 0;
    for (int round = 0; round < 100000; ++round) {
        std::string buffer;
        const std::size_t length = below(11);
        const std::size_t lead = below(3) == 0 ? 0 : below(10);
        const std::size_t trail = below(3) == 0 ? 0 : below(10);
        for (std::size_t i = 0; i < lead + length + trail; ++i) {
            buffer.push_back(alphabet[below(alphabet.size())]);
        }
        const std::string_view window(buffer);
        const std::string_view text = window.substr(lead, length);
        const std::string alone(text);
        keyed += alone.size() < bytes::key_limit ? 1u : 0u;
        const std::vector<std::string> codes{alone};
        const CodeSet set = CodeSet::of(codes);
        ASSERT_TRUE(set.contains(text, codes, window)) << testing::PrintToString(buffer);
        const std::vector<std::string> others{alone + "A"};
        ASSERT_FALSE(CodeSet::of(others).contains(text, others, window))
            << testing::PrintToString(buffer);
    }
    EXPECT_GT(keyed, 50000u);
}

}  // namespace
