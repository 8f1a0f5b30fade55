// Table compilation: the checks of each table and column and their order, the relations between
// tables (shared anchors, refs, ancestor chains) and the compiled sources.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "spec/records.hpp"
#include "spec/spec.hpp"
#include "spec/tables.hpp"

namespace {

using remitrax::check_held;
using remitrax::ColumnSource;
using remitrax::compile_tables;
using remitrax::LoopId;
using remitrax::Spec;
using remitrax::SpecError;
using remitrax::TableDef;
using remitrax::TableIndex;
using S = ColumnSource;

// The loop tree of the built-in 835 layout, with two sibling loops under the transaction.
constexpr std::string_view loops_json = R"({
    "interchange": {"trigger": {"segment": "ISA"}, "end": "IEA"},
    "group": {"parent": "interchange", "trigger": {"segment": "GS"}, "end": "GE"},
    "transaction": {"parent": "group", "trigger": {"segment": "ST"},
                    "segments": ["BPR", "TRN", "PLB"], "end": "SE"},
    "1000A": {"parent": "transaction", "trigger": {"segment": "N1", "where": {"1": "PR"}},
              "segments": ["N3", "N4", "REF"]},
    "1000B": {"parent": "transaction", "trigger": {"segment": "N1", "where": {"1": "PE"}},
              "segments": ["N3", "N4", "REF"]},
    "2000": {"parent": "transaction", "trigger": {"segment": "LX"}},
    "2100": {"parent": "2000", "trigger": {"segment": "CLP"},
             "segments": ["CAS", "NM1", "DTM", "REF"]},
    "2110": {"parent": "2100", "trigger": {"segment": "SVC"},
             "segments": ["CAS", "DTM", "REF"]}})";

struct Compiled {
    std::shared_ptr<const Spec> spec;
    std::expected<std::vector<TableDef>, SpecError> tables;

    LoopId loop(std::string_view name) const { return spec->loop_id(name).value(); }
    const TableDef& table(std::string_view name) const {
        for (const TableDef& table : tables.value()) {
            if (table.name == name) {
                return table;
            }
        }
        throw std::out_of_range(std::string(name));
    }
    TableIndex index(std::string_view name) const {
        return static_cast<TableIndex>(&table(name) - tables.value().data());
    }
};

// Loads the loops as a spec and compiles `tables` (a JSON object text) against it.
Compiled compile(std::string_view tables) {
    nlohmann::json document = {{"name", "t"}, {"loops", nlohmann::json::parse(loops_json)}};
    auto spec = Spec::from_value(document);
    EXPECT_TRUE(spec.has_value()) << spec.error().to_string();
    document["tables"] = nlohmann::json::parse(tables);
    const auto raw = remitrax::read_spec(document);
    EXPECT_TRUE(raw.has_value()) << raw.error().message;
    return {*spec, compile_tables(**spec, raw->tables)};
}

std::string message(std::string_view tables) {
    const auto compiled = compile(tables);
    return compiled.tables ? "accepted" : compiled.tables.error().to_string();
}

struct Case {
    std::string_view tables;
    std::string_view expected;
};

void expect_messages(std::span<const Case> cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(message(c.tables), c.expected) << c.tables;
    }
}

TEST(Tables, CompiledTablesKeepTheirDefinition) {
    const auto compiled = compile(R"({
        "claims": {"loops": ["2100"], "ref": "claim", "columns": {
            "id": {"segment": "CLP", "element": 1},
            "patient": {"loop": "2110", "segment": "DTM", "where": {"10": "x", "2": "y"},
                        "element": 3, "component": 2},
            "at": {"segment": "NM1", "where": {"1": "QC"}, "segment_index": true}}},
        "adjustments": {"loops": ["2110", "2100"], "segment": "CAS",
                        "repeat": {"from": 2, "step": 3}, "columns": {
            "group": {"element": 1}, "amount": {"group_element": 1, "component": 1},
            "where": {"segment_index": true, "where": {}}}}})");
    ASSERT_TRUE(compiled.tables.has_value()) << compiled.tables.error().to_string();
    const auto loop_2100 = compiled.loop("2100");
    const auto loop_2110 = compiled.loop("2110");

    const TableDef& claims = compiled.table("claims");
    EXPECT_EQ(claims.ref, "claim");
    EXPECT_EQ(claims.loops, std::vector<LoopId>{loop_2100});
    EXPECT_EQ(claims.segment, std::nullopt);
    EXPECT_EQ(claims.repeat, std::nullopt);
    const std::vector<std::pair<std::string, ColumnSource>> claim_columns = {
        {"at", {S::SegmentIndex{std::nullopt, "NM1", {{1, "QC"}}}}},
        {"id", {S::Element{std::nullopt, "CLP", {}, 1, std::nullopt}}},
        {"patient", {S::Element{loop_2110, "DTM", {{2, "y"}, {10, "x"}}, 3, 2}}},
    };
    EXPECT_EQ(claims.columns, claim_columns);

    const TableDef& adjustments = compiled.table("adjustments");
    EXPECT_EQ(adjustments.ref, "adjustments");
    EXPECT_EQ(adjustments.loops, (std::vector<LoopId>{loop_2110, loop_2100}));
    EXPECT_EQ(adjustments.segment, "CAS");
    EXPECT_EQ(adjustments.repeat, (remitrax::Repeat{2, 3}));
    const std::vector<std::pair<std::string, ColumnSource>> adjustment_columns = {
        {"amount", {S::GroupElement{1, 1}}},
        {"group", {S::Element{std::nullopt, "CAS", {}, 1, std::nullopt}}},
        {"where", {S::SegmentIndex{std::nullopt, "CAS", {}}}},
    };
    EXPECT_EQ(adjustments.columns, adjustment_columns);
}

// Checks each table's ancestors and parent, given as table names outermost first.
void expect_ancestors(const Compiled& compiled,
                      const std::map<std::string, std::vector<std::string>>& expected) {
    ASSERT_TRUE(compiled.tables.has_value()) << compiled.tables.error().to_string();
    ASSERT_EQ(compiled.tables->size(), expected.size());
    for (const auto& [name, ancestors] : expected) {
        std::vector<TableIndex> indexes;
        for (const std::string& ancestor : ancestors) {
            indexes.push_back(compiled.index(ancestor));
        }
        const TableDef& table = compiled.table(name);
        EXPECT_EQ(table.ancestors, indexes) << name;
        EXPECT_EQ(table.parent,
                  indexes.empty() ? std::nullopt : std::optional<TableIndex>(indexes.back()))
            << name;
    }
}

TEST(Tables, AncestorsAreTheEnclosingLoopAnchoredTables) {
    const auto builtin = compile(R"({
        "payments": {"loops": ["transaction"], "ref": "payment"},
        "claims": {"loops": ["2100"], "ref": "claim"},
        "services": {"loops": ["2110"], "ref": "service"},
        "adjustments": {"loops": ["2100", "2110"], "segment": "CAS"},
        "provider_adjustments": {"loops": ["transaction"], "segment": "PLB"},
        "parties": {"loops": ["1000A", "1000B"]},
        "addresses": {"loops": ["1000B", "1000A"], "segment": "N3"},
        "trailers": {"loops": ["transaction"], "segment": "SE"}})");
    ASSERT_TRUE(builtin.tables.has_value()) << builtin.tables.error().to_string();
    const std::vector<std::string> order = {"addresses", "adjustments", "claims",
                                            "parties",   "payments",    "provider_adjustments",
                                            "services",  "trailers"};
    ASSERT_EQ(builtin.tables->size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ((*builtin.tables)[i].name, order[i]);
    }
    expect_ancestors(builtin, {
                                  {"payments", {}},
                                  {"claims", {"payments"}},
                                  {"services", {"payments", "claims"}},
                                  {"adjustments", {"payments", "claims", "services"}},
                                  {"provider_adjustments", {"payments"}},
                                  {"parties", {"payments"}},
                                  {"addresses", {"payments", "parties"}},
                                  {"trailers", {"payments"}},
                              });

    // A table in a root loop encloses everything; loops without a table are skipped.
    expect_ancestors(compile(R"({
        "envelopes": {"loops": ["interchange"]},
        "isa": {"loops": ["interchange"], "segment": "ISA"},
        "claims": {"loops": ["2100"]},
        "services": {"loops": ["2110"]}})"),
                     {
                         {"envelopes", {}},
                         {"isa", {"envelopes"}},
                         {"claims", {"envelopes"}},
                         {"services", {"envelopes", "claims"}},
                     });
}

TEST(Tables, NoTablesCompileToNone) {
    nlohmann::json document = {{"name", "t"}, {"loops", nlohmann::json::parse(loops_json)}};
    const auto spec = Spec::from_value(document);
    ASSERT_TRUE(spec.has_value());
    const auto raw = remitrax::read_spec(document);
    ASSERT_TRUE(raw.has_value());
    const auto tables = compile_tables(**spec, raw->tables);
    ASSERT_TRUE(tables.has_value());
    EXPECT_TRUE(tables->empty());
    EXPECT_EQ(message("{}"), "accepted");
}

TEST(Tables, TableChecksInTheirOrder) {
    const Case cases[] = {
        {R"({"": {"loops": ["2100"]}})", R"(table "": the table name is empty)"},
        {R"({"": {"loops": []}})", R"(table "": the table name is empty)"},
        {R"({"t": {"loops": [], "ref": "row"}})",
         R"(table "t": "loops" is empty; a table anchors in at least one loop)"},
        {R"({"t": {"loops": ["x", "x"]}})", R"(table "t": loop "x" does not exist)"},
        {R"({"t": {"loops": ["2100", "2100"]}})",
         R"(table "t": loop "2100" is listed more than once in "loops")"},
        {R"({"t": {"loops": ["2100", "2100", "x"]}})",
         R"(table "t": loop "2100" is listed more than once in "loops")"},
        {R"({"t": {"loops": ["x", "2100", "2100"]}})", R"(table "t": loop "x" does not exist)"},
        {R"({"t": {"loops": ["2100", "2100 "]}})", R"(table "t": loop "2100 " does not exist)"},
        {R"({"row": {"loops": ["2100"]}})",
         R"(table "row": the name "row" is taken by an automatic column)"},
        {R"({"t": {"loops": ["2100"], "ref": "segment", "segment": ""}})",
         R"(table "t": the name "segment" is taken by an automatic column)"},
        {R"({"row": {"loops": ["2100"], "ref": "rows"}})", "accepted"},
        {R"({"t": {"loops": ["2100"], "ref": "", "repeat": {"from": 1, "step": 1}}})",
         R"(table "t": the ref is empty)"},
        {R"({"claims": {"loops": ["2100"], "segment": "", "repeat": {"from": 0, "step": 0}}})",
         "the spec has an empty segment id at tables.claims.segment"},
        {R"({"my table": {"loops": ["2100"], "segment": ""}})",
         R"(the spec has an empty segment id at tables."my table".segment)"},
        {R"({"t": {"loops": ["2100"], "segment": "X", "repeat": {"from": 0, "step": 0}}})",
         R"(table "t": "repeat.from" must be a 1-based position; found 0)"},
        {R"({"t": {"loops": ["2100"], "segment": "X", "repeat": {"from": 1, "step": 0}}})",
         R"(table "t": "repeat.step" is 0)"},
        {R"({"t": {"loops": ["2100"], "segment": "X", "repeat": {"from": 1, "step": 1}}})",
         R"(table "t": segment "X" is neither the trigger nor a segment of loop "2100", so it is never read there)"},
        {R"({"t": {"loops": ["2100", "2000", "transaction"], "segment": "CAS"}})",
         R"(table "t": segment "CAS" is neither the trigger nor a segment of loop "2000", so it is never read there)"},
        {R"({"t": {"loops": ["transaction"], "segment": "SE"}})", "accepted"},
        {R"({"t": {"loops": ["2110"], "segment": "SVC"}})", "accepted"},
        {R"({"t": {"loops": ["2100", "transaction"], "repeat": {"from": 1, "step": 1}}})",
         R"(table "t": "repeat" requires "segment": only a segment's elements repeat)"},
        {R"({"t": {"loops": ["transaction", "2100"]}})",
         R"(table "t": anchor loops "transaction" and "2100" nest; a table without "segment" anchors in loops that do not)"},
        {R"({"t": {"loops": ["2110", "2100", "transaction"]}})",
         R"(table "t": anchor loops "2100" and "2110" nest; a table without "segment" anchors in loops that do not)"},
        {R"({"t": {"loops": ["2110", "transaction", "2100"]}})",
         R"(table "t": anchor loops "transaction" and "2110" nest; a table without "segment" anchors in loops that do not)"},
        {R"({"t": {"loops": ["2110", "transaction"], "segment": "CAS"}})",
         R"(table "t": segment "CAS" is neither the trigger nor a segment of loop "transaction", so it is never read there)"},
        {R"({"t": {"loops": ["2100"], "columns": {"c": {}}}, "s": {"loops": []}})",
         R"(table "s": "loops" is empty; a table anchors in at least one loop)"},
        {R"({"t": {"loops": "2100"}})",
         R"(table "t" does not match the schema: invalid type: string "2100", expected a sequence)"},
    };
    expect_messages(cases);
}

TEST(Tables, ColumnChecksInTheirOrder) {
    // Columns of the loop-anchored table "claims" in 2100 or of the segment-anchored table
    // "cas" on CAS in 2100 and 2110, with groups of three elements.
    const auto in_claims = [](std::string_view columns) {
        return message(std::string(R"({"claims": {"loops": ["2100"], "columns": )") +
                       std::string(columns) + "}}");
    };
    const auto in_cas = [](std::string_view columns) {
        return message(std::string(R"({"cas": {"loops": ["2100", "2110"], "segment": "CAS", )") +
                       R"("repeat": {"from": 2, "step": 3}, "columns": )" + std::string(columns) +
                       "}}");
    };
    const Case claims_cases[] = {
        {R"({"": {}})", R"(table "claims" column "": the column name is empty)"},
        {R"({"row": {}})",
         R"(table "claims" column "row": the name "row" is taken by an automatic column)"},
        {R"({"segment": {"element": 0}})",
         R"(table "claims" column "segment": the name "segment" is taken by an automatic column)"},
        {R"({"c": {"segment": "CLP", "element": 1, "segment_index": true}})",
         R"(table "claims" column "c": a column takes exactly one of "element", "group_element" or "segment_index"; found 2)"},
        {R"({"c": {"segment": "CLP", "segment_index": false}})",
         R"(table "claims" column "c": a column takes exactly one of "element", "group_element" or "segment_index"; found 0)"},
        {R"({"c": {"element": 0, "group_element": 0, "segment_index": true}})",
         R"(table "claims" column "c": a column takes exactly one of "element", "group_element" or "segment_index"; found 3)"},
        {R"({"c": {"segment_index": true, "component": 0}})",
         R"(table "claims" column "c": "component" does not apply to "segment_index")"},
        {R"({"c": {"element": 0, "component": 0}})",
         R"(table "claims" column "c": "element" must be a 1-based position; found 0)"},
        {R"({"c": {"element": 1, "component": 0}})",
         R"(table "claims" column "c": "component" must be a 1-based position; found 0)"},
        {R"({"c": {"group_element": 0}})",
         R"(table "claims" column "c": "group_element" requires the table's "repeat")"},
        {R"({"c": {"element": 1, "loop": "x"}})",
         R"(table "claims" column "c": the column names no "segment" to read)"},
        {R"({"my col": {"element": 1, "segment": "", "loop": "x"}})",
         R"(the spec has an empty segment id at tables.claims.columns."my col".segment)"},
        {R"({"c": {"element": 1, "segment": "CLP", "loop": "x", "where": {"0": "a"}}})",
         R"(table "claims" column "c": loop "x" does not exist)"},
        {R"({"c": {"element": 1, "segment": "CLP", "loop": "2100", "where": {"0": "a"}}})",
         R"(table "claims" column "c": loop "2100" is not inside anchor loop "2100")"},
        {R"({"c": {"element": 1, "segment": "CLP", "loop": "1000A"}})",
         R"(table "claims" column "c": loop "1000A" is not inside anchor loop "2100")"},
        {R"({"c": {"element": 1, "segment": "CLP", "loop": "2000"}})",
         R"(table "claims" column "c": loop "2000" is not inside anchor loop "2100")"},
        {R"({"c": {"element": 1, "segment": "SVC", "loop": "2110"}})", "accepted"},
        {R"({"c": {"element": 1, "segment": "X", "where": {"2": "a", "02": "b"}}})",
         R"(table "claims" column "c": "where" position "02" is not a 1-based integer in canonical form)"},
        {R"({"c": {"element": 1, "segment": "CLP", "where": {"+1": "a"}}})",
         R"(table "claims" column "c": "where" position "+1" is not a 1-based integer in canonical form)"},
        {R"({"c": {"element": 1, "segment": "CLP", "where": {"0": "a"}}})",
         R"(table "claims" column "c": "where" position "0" is not a 1-based integer in canonical form)"},
        {R"({"c": {"element": 1, "segment": "CLP", "where": {"x": "a"}}})",
         R"(table "claims" column "c": "where" position "x" is not a 1-based integer in canonical form)"},
        {R"({"c": {"element": 1, "segment": "SVC"}})",
         R"(table "claims" column "c": segment "SVC" is neither the trigger nor a segment of loop "2100", so it is never read there)"},
        {R"({"c": {"element": 1, "segment": "CLP", "loop": "2110"}})",
         R"(table "claims" column "c": segment "CLP" is neither the trigger nor a segment of loop "2110", so it is never read there)"},
        {R"({"a": {"element": 1, "segment": "CLP"}, "b": {"element": 0}, "c": {}})",
         R"(table "claims" column "b": "element" must be a 1-based position; found 0)"},
        {R"({"c": {"element": "1"}})",
         R"(table "claims" column "c" does not match the schema: invalid type: string "1", expected u64)"},
    };
    for (const Case& c : claims_cases) {
        EXPECT_EQ(in_claims(c.tables), c.expected) << c.tables;
    }
    const Case cas_cases[] = {
        {R"({"c": {"element": 0, "loop": "2110"}})",
         R"(table "cas" column "c": "element" must be a 1-based position; found 0)"},
        {R"({"c": {"element": 1, "loop": "2110"}})",
         R"(table "cas" column "c": "loop" ("2110") does not apply in a table anchored on segment "CAS": its columns read that segment)"},
        {R"({"c": {"element": 1, "segment": "CAS", "loop": "2110"}})",
         R"(table "cas" column "c": "segment" ("CAS") does not apply in a table anchored on segment "CAS": its columns read that segment)"},
        {R"({"c": {"segment_index": true, "loop": "x", "where": {"1": "a"}}})",
         R"(table "cas" column "c": "loop" ("x") does not apply in a table anchored on segment "CAS": its columns read that segment)"},
        {R"({"c": {"group_element": 9, "where": {"2": "b\"", "10": "a"}}})",
         R"(table "cas" column "c": "where" ({"10":"a","2":"b\""}) does not apply in a table anchored on segment "CAS": its columns read that segment)"},
        {R"({"c": {"element": 1, "where": {}}})", "accepted"},
        {R"({"c": {"group_element": 3}})",
         R"(table "cas" column "c": "group_element" 3 is outside a group of 3 elements (offsets start at 0))"},
        {R"({"c": {"group_element": 2}})", "accepted"},
    };
    for (const Case& c : cas_cases) {
        EXPECT_EQ(in_cas(c.tables), c.expected) << c.tables;
    }
    EXPECT_EQ(message(R"({"t": {"loops": ["2100"], "segment": "CAS",
                              "columns": {"c": {"group_element": 0}}}})"),
              R"(table "t" column "c": "group_element" requires the table's "repeat")");
}

TEST(Tables, LinkChecksInTheirOrder) {
    const Case cases[] = {
        // Shared anchors: only loop-anchored tables own a loop.
        {R"({"a": {"loops": ["2100"]}, "b": {"loops": ["1000A", "2100"]}})",
         R"(table "b": loop "2100" already anchors table "a"; a loop anchors at most one table without "segment")"},
        {R"({"a": {"loops": ["2100"]}, "b": {"loops": ["2100"], "segment": "CLP"},
             "c": {"loops": ["2100"], "segment": "CAS"}})",
         "accepted"},
        // Refs, defaulting to the table's name.
        {R"({"a": {"loops": ["2000"]}, "b": {"loops": ["2100"], "ref": "a"}})",
         R"(table "b": "ref" "a" is already used by table "a")"},
        {R"({"a": {"loops": ["2000"], "ref": "x"}, "b": {"loops": ["2100"], "ref": "y"},
             "c": {"loops": ["2110"], "ref": "x"}})",
         R"(table "c": "ref" "x" is already used by table "a")"},
        // Every shared anchor is found before any ref, whatever the table order.
        {R"({"a": {"loops": ["2000"], "ref": "x"}, "b": {"loops": ["2110"], "ref": "x"},
             "c": {"loops": ["2100"]}, "d": {"loops": ["2100"]}})",
         R"(table "d": loop "2100" already anchors table "c"; a loop anchors at most one table without "segment")"},
        // Unrelated chains: equal lengths go to the first listed anchor.
        {R"({"p": {"loops": ["transaction"]}, "payer": {"loops": ["1000A"]},
             "payee": {"loops": ["1000B"]}, "n3": {"loops": ["1000A", "1000B"], "segment": "N3"}})",
         R"(table "n3": anchor loops "1000A" and "1000B" sit under tables that are not one chain: "1000A" under p/payer, "1000B" under p/payee)"},
        {R"({"p": {"loops": ["transaction"]}, "payer": {"loops": ["1000A"]},
             "payee": {"loops": ["1000B"]}, "n3": {"loops": ["1000B", "1000A"], "segment": "N3"}})",
         R"(table "n3": anchor loops "1000B" and "1000A" sit under tables that are not one chain: "1000B" under p/payee, "1000A" under p/payer)"},
        {R"({"my payer": {"loops": ["1000A"]}, "claims": {"loops": ["2100"]},
             "services": {"loops": ["2110"]}, "refs": {"loops": ["1000A", "2110"], "segment": "REF"}})",
         R"(table "refs": anchor loops "2110" and "1000A" sit under tables that are not one chain: "2110" under claims/services, "1000A" under "my payer")"},
        {R"({"payer": {"loops": ["1000A"]}, "claims": {"loops": ["2100"]},
             "refs": {"loops": ["1000B", "2110"], "segment": "REF"}})",
         "accepted"},
        // A column named after an ancestor's ref.
        {R"({"claims": {"loops": ["2100"], "ref": "claim"},
             "services": {"loops": ["2110"], "columns": {"claim": {"segment": "SVC", "element": 1}}}})",
         R"(table "services" column "claim": the name "claim" is taken by an automatic column)"},
        {R"({"claims": {"loops": ["2100"]},
             "cas": {"loops": ["2100"], "segment": "CAS", "columns": {"claims": {"element": 1}}}})",
         R"(table "cas" column "claims": the name "claims" is taken by an automatic column)"},
        {R"({"claims": {"loops": ["2100"], "ref": "claim"},
             "services": {"loops": ["2110"], "columns": {"claims": {"segment": "SVC", "element": 1}}}})",
         "accepted"},
        // Refs are all checked before any chain.
        {R"({"a": {"loops": ["1000A"]}, "b": {"loops": ["1000B"]},
             "c": {"loops": ["1000A", "1000B"], "segment": "N3"},
             "x": {"loops": ["2100"], "ref": "z"}, "y": {"loops": ["2110"], "ref": "z"}})",
         R"(table "y": "ref" "z" is already used by table "x")"},
        // Chains and column names are checked table by table.
        {R"({"a": {"loops": ["1000A"]}, "b": {"loops": ["1000B"]},
             "c": {"loops": ["1000A", "1000B"], "segment": "N3", "columns": {"a": {"element": 1}}},
             "d": {"loops": ["1000B"], "segment": "N3", "columns": {"b": {"element": 1}}}})",
         R"(table "c": anchor loops "1000A" and "1000B" sit under tables that are not one chain: "1000A" under a, "1000B" under b)"},
        {R"({"a": {"loops": ["1000A"]}, "b": {"loops": ["1000B"]},
             "c": {"loops": ["1000B"], "segment": "N3", "columns": {"b": {"element": 1}}},
             "d": {"loops": ["1000A", "1000B"], "segment": "N3"}})",
         R"(table "c" column "b": the name "b" is taken by an automatic column)"},
        // The first pass finishes before any link check.
        {R"({"a": {"loops": ["2100"]}, "b": {"loops": ["2100"]}, "c": {"loops": []}})",
         R"(table "c": "loops" is empty; a table anchors in at least one loop)"},
    };
    expect_messages(cases);
}

TEST(Tables, SegmentIsHeldByTriggerMembersOrEnd) {
    nlohmann::json document = {{"name", "t"}, {"loops", nlohmann::json::parse(loops_json)}};
    const auto spec = Spec::from_value(document);
    ASSERT_TRUE(spec.has_value());
    const auto id = [&](std::string_view name) { return (*spec)->loop_id(name).value(); };
    const std::vector<LoopId> transaction_2100 = {id("transaction"), id("2100")};
    struct HeldCase {
        std::vector<LoopId> loops;
        std::string segment;
        std::string expected;
    };
    const HeldCase cases[] = {
        {transaction_2100, "ST",
         R"(segment "ST" is neither the trigger nor a segment of loop "2100", so it is never read there)"},
        {transaction_2100, "SE",
         R"(segment "SE" is neither the trigger nor a segment of loop "2100", so it is never read there)"},
        {transaction_2100, "CAS",
         R"(segment "CAS" is neither the trigger nor a segment of loop "transaction", so it is never read there)"},
        {{id("transaction")}, "BPR", "held"},
        {{id("transaction")}, "SE", "held"},
        {{id("2100"), id("2110")}, "CAS", "held"},
        {{id("2100")},
         "CA",
         R"(segment "CA" is neither the trigger nor a segment of loop "2100", so it is never read there)"},
        {{id("2100")},
         "CAS\xff",
         "segment \"CAS\xEF\xBF\xBD\" is neither the trigger nor a segment of loop \"2100\", so it "
         "is never read there"},
        {{}, "X", "held"},
    };
    for (const HeldCase& c : cases) {
        const auto held = check_held((*spec)->loops, c.loops, c.segment);
        EXPECT_EQ(held ? "held" : held.error().to_string(), c.expected) << c.segment;
    }
}

// What the table checks that relate loops and tables report, each found by walking parents
// and comparing every pair: nested anchors, column loops outside an anchor, then shared
// anchors, refs, chains and columns named after an ancestor's ref. Tables without a fault
// show their ancestors. Every table and column of `document` passes all other checks.
std::string walked(const Spec& spec, const nlohmann::json& tables) {
    using E = remitrax::TableDefError;
    const auto fault = [](std::string table, std::optional<std::string> column, E reason) {
        return SpecError{
            SpecError::BadTable{std::move(table), std::move(column), std::move(reason)}}
            .to_string();
    };
    const auto inside = [&](LoopId outer, LoopId inner) {
        const auto above = spec.ancestors(inner);
        return std::ranges::find(above, outer) != above.end();
    };
    struct Table {
        std::string name, ref;
        std::vector<LoopId> loops;
        bool segment = false;
        std::vector<std::string> columns;
    };
    std::vector<Table> all;
    for (const auto& [name, value] : tables.items()) {
        Table table{name, value.value("ref", name), {}, value.contains("segment"), {}};
        for (const auto& loop : value["loops"]) {
            table.loops.push_back(*spec.loop_id(loop.get<std::string>()));
        }
        for (const LoopId outer : table.loops) {
            for (const LoopId inner : table.loops) {
                if (!table.segment && inside(outer, inner)) {
                    return fault(
                        name, std::nullopt,
                        {E::NestedAnchors{spec.loops[outer].name, spec.loops[inner].name}});
                }
            }
        }
        for (const auto& [column, source] : value["columns"].items()) {
            table.columns.push_back(column);
            if (!source.contains("loop")) {
                continue;
            }
            const auto loop = *spec.loop_id(source["loop"].get<std::string>());
            for (const LoopId anchor : table.loops) {
                if (!inside(anchor, loop)) {
                    return fault(
                        name, column,
                        {E::NotADescendant{spec.loops[loop].name, spec.loops[anchor].name}});
                }
            }
        }
        all.push_back(std::move(table));
    }
    std::map<LoopId, std::size_t> owner;
    for (std::size_t t = 0; t < all.size(); ++t) {
        for (const LoopId anchor : all[t].loops) {
            if (all[t].segment) {
                continue;
            }
            if (const auto [at, added] = owner.try_emplace(anchor, t); !added) {
                return fault(all[t].name, std::nullopt,
                             {E::SharedAnchor{spec.loops[anchor].name, all[at->second].name}});
            }
        }
    }
    for (std::size_t t = 0; t < all.size(); ++t) {
        for (std::size_t u = 0; u < t; ++u) {
            if (all[u].ref == all[t].ref) {
                return fault(all[t].name, std::nullopt, {E::RefTaken{all[t].ref, all[u].name}});
            }
        }
    }
    std::string shown;
    for (const Table& table : all) {
        std::vector<std::vector<std::string>> chains;
        std::size_t longest = 0;
        for (const LoopId anchor : table.loops) {
            std::vector<LoopId> walk = spec.ancestors(anchor);
            if (table.segment) {
                walk.push_back(anchor);
            }
            std::vector<std::string> chain;
            for (const LoopId loop : walk) {
                if (owner.contains(loop)) {
                    chain.push_back(all[owner[loop]].name);
                }
            }
            chains.push_back(std::move(chain));
            longest = chains.back().size() > chains[longest].size() ? chains.size() - 1 : longest;
        }
        for (std::size_t i = 0; i < chains.size(); ++i) {
            if (!std::equal(chains[i].begin(), chains[i].end(), chains[longest].begin())) {
                return fault(
                    table.name, std::nullopt,
                    {E::UnrelatedAnchors{spec.loops[table.loops[longest]].name, chains[longest],
                                         spec.loops[table.loops[i]].name, chains[i]}});
            }
        }
        for (const std::string& column : table.columns) {
            for (const std::string& ancestor : chains[longest]) {
                if (column == all[static_cast<std::size_t>(
                                      std::ranges::find(all, ancestor, &Table::name) - all.begin())]
                                  .ref) {
                    return fault(table.name, column, {E::ReservedName{column}});
                }
            }
        }
        shown += table.name + ":";
        for (const std::string& ancestor : chains[longest]) {
            shown += " " + ancestor;
        }
        shown += "\n";
    }
    return shown;
}

TEST(Tables, RelatedChecksFindWhatWalkingEveryPairFinds) {
    std::mt19937 random(835);
    const auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::map<std::string, int> outcomes;
    for (int round = 0; round < 6000; ++round) {
        // A forest of up to nine loops, each holding segment X, and up to four tables over them.
        const std::size_t count = 2 + below(8);
        nlohmann::json loops = nlohmann::json::object();
        for (std::size_t id = 0; id < count; ++id) {
            nlohmann::json loop = {{"trigger", {{"segment", "S" + std::to_string(id)}}},
                                   {"segments", {"X"}}};
            if (id > 0 && below(4) > 0) {
                loop["parent"] = "L" + std::to_string(below(id));
            }
            loops["L" + std::to_string(id)] = std::move(loop);
        }
        nlohmann::json tables = nlohmann::json::object();
        const std::size_t table_count = 1 + below(4);
        for (std::size_t t = 0; t < table_count; ++t) {
            std::vector<std::string> anchors;
            for (std::size_t id = 0; id < count; ++id) {
                anchors.push_back("L" + std::to_string(id));
            }
            std::ranges::shuffle(anchors, random);
            const bool on_segment = below(2) == 0;
            anchors.resize(1 + below(std::min<std::size_t>(count, on_segment ? 4 : 3)));
            nlohmann::json table = {{"loops", anchors}, {"columns", nlohmann::json::object()}};
            if (on_segment) {
                table["segment"] = "X";
            }
            if (below(5) == 0) {
                table["ref"] = "r";
            }
            if (below(3) == 0) {
                const std::string name = below(4) > 0 ? "t" + std::to_string(below(4)) : "c";
                table["columns"][name] = on_segment
                                             ? nlohmann::json{{"element", 1}}
                                             : nlohmann::json{{"segment", "X"}, {"element", 1}};
            }
            if (!on_segment && below(3) == 0) {
                table["columns"]["inner"] = {
                    {"loop", "L" + std::to_string(below(count))}, {"segment", "X"}, {"element", 1}};
            }
            tables["t" + std::to_string(t)] = std::move(table);
        }
        auto spec = Spec::from_value({{"name", "t"}, {"loops", loops}});
        if (!spec) {
            continue;  // a cycle of parents
        }
        const nlohmann::json document = {{"name", "t"}, {"loops", loops}, {"tables", tables}};
        const auto raw = remitrax::read_spec(document);
        ASSERT_TRUE(raw.has_value());
        const auto compiled = compile_tables(**spec, raw->tables);
        std::string shown;
        if (compiled) {
            for (const TableDef& table : *compiled) {
                shown += table.name + ":";
                for (const TableIndex ancestor : table.ancestors) {
                    shown += " " + (*compiled)[ancestor].name;
                }
                shown += "\n";
            }
        }
        const std::string expected = walked(**spec, tables);
        ASSERT_EQ(compiled ? shown : compiled.error().to_string(), expected)
            << tables.dump() << "\n"
            << loops.dump();
        std::string_view kind = "accepted";
        for (const std::string_view phrase :
             {" nest;", " is not inside ", " already anchors ", " is already used ",
              " not one chain", " taken by an automatic "}) {
            kind = expected.find(phrase) != std::string::npos ? phrase : kind;
        }
        ++outcomes[std::string(kind)];
    }
    // Each check is met often, as is acceptance.
    EXPECT_EQ(outcomes.size(), 7U);
    for (const auto& [kind, times] : outcomes) {
        EXPECT_GT(times, 20) << kind;
    }
}

}  // namespace
