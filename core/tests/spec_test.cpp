// The record readers, the compiled spec's loop order and lookups, and the loading order of
// its checks.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "spec/records.hpp"
#include "spec/spec.hpp"

namespace {

using nlohmann::json;
using remitrax::LoopId;
using remitrax::ReaderError;
using remitrax::Spec;
using remitrax::SpecError;

// The reader's message for `text`, or "" when it reads.
template <class Read>
std::string reader_message(Read read, std::string_view text) {
    const json value = json::parse(text);
    const auto record = read(value);
    return record ? std::string() : record.error().message;
}

std::string load_error(std::string_view text) {
    const auto spec = Spec::from_json(text);
    return spec ? std::string("loaded") : spec.error().to_string();
}

std::shared_ptr<const Spec> load(std::string_view text) {
    auto spec = Spec::from_json(text);
    EXPECT_TRUE(spec.has_value()) << (spec ? "" : spec.error().to_string());
    return spec ? *spec : nullptr;
}

TEST(Records, FoundValuesAreDescribed) {
    const struct {
        std::string_view value;
        std::string_view message;
    } cases[] = {
        {R"("abc")", R"(invalid type: string "abc", expected a loop object)"},
        {R"("a\"b\n")", R"(invalid type: string "a\"b\n", expected a loop object)"},
        {"5", "invalid type: integer `5`, expected a loop object"},
        {"18446744073709551615",
         "invalid type: integer `18446744073709551615`, expected a loop object"},
        {"-5", "invalid type: integer `-5`, expected a loop object"},
        {"1.5", "invalid type: floating point `1.5`, expected a loop object"},
        {"2.0", "invalid type: floating point `2.0`, expected a loop object"},
        {"1e3", "invalid type: floating point `1000.0`, expected a loop object"},
        {"-0.0", "invalid type: floating point `-0.0`, expected a loop object"},
        {"0.1", "invalid type: floating point `0.1`, expected a loop object"},
        {"null", "invalid type: null, expected a loop object"},
        {"true", "invalid type: boolean `true`, expected a loop object"},
        {"false", "invalid type: boolean `false`, expected a loop object"},
        {"[]", "invalid type: sequence, expected a loop object"},
        {R"([{"trigger": {"segment": "LX"}}])", "invalid type: sequence, expected a loop object"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reader_message(remitrax::read_loop, c.value), c.message) << c.value;
    }
}

TEST(Records, EachRecordNamesItsExpectedTextAndFields) {
    using Reader = std::function<std::expected<int, ReaderError>(const json&)>;
    const auto wrap = [](auto read) -> Reader {
        return [read](const json& v) -> std::expected<int, ReaderError> {
            auto r = read(v);
            if (!r) {
                return std::unexpected(r.error());
            }
            return 0;
        };
    };
    const struct {
        Reader read;
        std::string_view expected;
        std::string_view unknown;
    } cases[] = {
        {wrap(remitrax::read_spec), R"(a spec object with "name" and "loops")",
         "one of `name`, `loops`, `segments`, `tables`, `version`"},
        {wrap(remitrax::read_loop), "a loop object",
         "one of `parent`, `trigger`, `segments`, `end`, `control`"},
        {wrap(remitrax::read_trigger), "a trigger object", "`segment` or `where`"},
        {wrap(remitrax::read_control), "a control object",
         "one of `opener_element`, `closer_element`, `count_element`, `count`"},
        {wrap(remitrax::read_segment), "a segment object", "`elements`"},
        {wrap(remitrax::read_element), "an element object",
         "one of `name`, `type`, `required`, `min`, `max`, `scale`, `codes`, `composite`"},
        {wrap(remitrax::read_table), "a table object",
         "one of `loops`, `ref`, `segment`, `repeat`, `columns`"},
        {wrap(remitrax::read_repeat), "a repeat object", "`from` or `step`"},
        {wrap(remitrax::read_column), "a column object",
         "one of `loop`, `segment`, `where`, `element`, `component`, `group_element`, "
         "`segment_index`"},
        {wrap(remitrax::read_version), "a version object", "one of `segment`, `element`, `values`"},
    };
    for (const auto& c : cases) {
        const auto wrong = c.read(json(7));
        ASSERT_FALSE(wrong.has_value());
        EXPECT_EQ(wrong.error().message,
                  "invalid type: integer `7`, expected " + std::string(c.expected));
        // "!" sorts before every field name, so it is met before any missing field.
        const auto unknown = c.read(json{{"!", 1}});
        ASSERT_FALSE(unknown.has_value());
        EXPECT_EQ(unknown.error().message, "unknown field `!`, expected " + std::string(c.unknown));
    }
}

TEST(Records, FieldFaults) {
    const auto loop = [](std::string_view t) { return reader_message(remitrax::read_loop, t); };
    const auto element = [](std::string_view t) {
        return reader_message(remitrax::read_element, t);
    };
    const auto spec = [](std::string_view t) { return reader_message(remitrax::read_spec, t); };
    const auto table = [](std::string_view t) { return reader_message(remitrax::read_table, t); };
    const auto version = [](std::string_view t) {
        return reader_message(remitrax::read_version, t);
    };
    const struct {
        std::string message;
        std::string_view expected;
    } cases[] = {
        {loop("{}"), "missing field `trigger`"},
        {loop(R"({"trigger": 5})"), "invalid type: integer `5`, expected a trigger object"},
        {loop(R"({"trigger": {}})"), "missing field `segment`"},
        {loop(R"({"trigger": {"segment": 5}})"), "invalid type: integer `5`, expected a string"},
        {loop(R"({"trigger": {"segment": "LX", "where": []}})"),
         "invalid type: sequence, expected a map"},
        {loop(R"({"trigger": {"segment": "LX", "where": {"1": 2}}})"),
         "invalid type: integer `2`, expected a string"},
        {loop(R"({"trigger": {"segment": "LX"}, "segments": "N1"})"),
         R"(invalid type: string "N1", expected a sequence)"},
        {loop(R"({"trigger": {"segment": "LX"}, "segments": ["N1", null]})"),
         "invalid type: null, expected a string"},
        {loop(R"({"trigger": {"segment": "LX"}, "parent": 1})"),
         "invalid type: integer `1`, expected a string"},
        {loop(R"({"trigger": {"segment": "LX"}, "end": "SE", "control": {"opener_element": -1,
                  "closer_element": 1, "count_element": 1, "count": "segments"}})"),
         "invalid value: integer `-1`, expected usize"},
        {loop(R"({"trigger": {"segment": "LX"}, "end": "SE", "control": {"opener_element": 1.5,
                  "closer_element": 1, "count_element": 1, "count": "segments"}})"),
         "invalid type: floating point `1.5`, expected usize"},
        {loop(R"({"trigger": {"segment": "LX"}, "end": "SE", "control": {"opener_element": 1,
                  "closer_element": 1, "count_element": 1}})"),
         "missing field `count`"},
        // Members are read in key order: "segments" before the missing "trigger", "bogus"
        // before a wrong "trigger".
        {loop(R"({"segments": 5})"), "invalid type: integer `5`, expected a sequence"},
        {loop(R"({"trigger": 5, "bogus": 1})"),
         "unknown field `bogus`, expected one of `parent`, `trigger`, `segments`, `end`, "
         "`control`"},
        {element("{}"), "missing field `name`"},
        {element(R"({"name": "a"})"), "missing field `type`"},
        {element(R"({"name": "a", "type": "R", "min": -1})"),
         "invalid value: integer `-1`, expected u64"},
        {element(R"({"name": "a", "type": "R", "max": "2"})"),
         R"(invalid type: string "2", expected u64)"},
        {element(R"({"name": "a", "type": "R", "scale": 300})"),
         "invalid value: integer `300`, expected u8"},
        {element(R"({"name": "a", "type": "R", "scale": -1})"),
         "invalid value: integer `-1`, expected u8"},
        {element(R"({"name": "a", "type": "R", "scale": 2.5})"),
         "invalid type: floating point `2.5`, expected u8"},
        {element(R"({"name": "a", "type": "AN", "required": "yes"})"),
         R"(invalid type: string "yes", expected a boolean)"},
        {element(R"({"name": "a", "type": "AN", "required": null})"),
         "invalid type: null, expected a boolean"},
        {element(R"({"name": "a", "type": "AN", "codes": {}})"),
         "invalid type: map, expected a sequence"},
        {element(R"({"name": "a", "type": "AN", "composite": null})"),
         "invalid type: null, expected a map"},
        {element(R"({"name": "a", "type": "AN", "composite": {"1": 5}})"),
         "invalid type: integer `5`, expected an element object"},
        // The composite's fault comes before a later key's.
        {element(R"({"composite": {"1": {"name": "b"}}, "name": 5, "type": "AN"})"),
         "missing field `type`"},
        {spec("{}"), "missing field `name`"},
        {spec(R"({"name": "x"})"), "missing field `loops`"},
        {spec(R"({"name": "x", "loops": []})"), "invalid type: sequence, expected a map"},
        {spec(R"({"name": "x", "loops": {}, "version": 5})"),
         "invalid type: integer `5`, expected a version object"},
        {spec(R"({"name": "x", "loops": {}, "tables": null})"),
         "invalid type: null, expected a map"},
        {table("{}"), "missing field `loops`"},
        {table(R"({"loops": [], "repeat": {"from": 1}})"), "missing field `step`"},
        {table(R"({"loops": [], "repeat": {"from": -2, "step": 1}})"),
         "invalid value: integer `-2`, expected u64"},
        {table(R"({"loops": [], "columns": []})"), "invalid type: sequence, expected a map"},
        {version(R"({"segment": "GS", "element": 1.0, "values": []})"),
         "invalid type: floating point `1.0`, expected u64"},
        {version(R"({"segment": "GS", "element": 8, "values": "x"})"),
         R"(invalid type: string "x", expected a sequence)"},
        {version(R"({"segment": "GS", "element": 8})"), "missing field `values`"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.message, c.expected);
    }
}

TEST(Records, DefaultsAndNulls) {
    const json loop_value = json::parse(R"({"trigger": {"segment": "LX"}, "parent": null,
                                            "end": null, "control": null})");
    const auto loop = remitrax::read_loop(loop_value);
    ASSERT_TRUE(loop.has_value()) << loop.error().message;
    EXPECT_EQ(loop->parent, std::nullopt);
    EXPECT_EQ(loop->end, std::nullopt);
    EXPECT_FALSE(loop->control.has_value());
    EXPECT_TRUE(loop->segments.empty());
    EXPECT_TRUE(loop->trigger.where.empty());

    const json element_value = json::parse(
        R"({"name": "a", "type": "ID", "min": null, "max": null, "scale": null, "codes": []})");
    const auto element = remitrax::read_element(element_value);
    ASSERT_TRUE(element.has_value()) << element.error().message;
    EXPECT_FALSE(element->required);
    EXPECT_EQ(element->min, std::nullopt);
    EXPECT_EQ(element->max, std::nullopt);
    EXPECT_EQ(element->scale, std::nullopt);
    ASSERT_TRUE(element->codes.has_value());  // an empty list is not an absent one
    EXPECT_TRUE(element->codes->empty());
    const auto no_codes = remitrax::read_element(json::parse(R"({"name": "a", "type": "ID",
                                                                 "codes": null, "composite": {}})"));
    ASSERT_TRUE(no_codes.has_value());
    EXPECT_FALSE(no_codes->codes.has_value());
    EXPECT_TRUE(no_codes->composite.empty());

    const auto column = remitrax::read_column(json::parse(R"({"element": null, "loop": null})"));
    ASSERT_TRUE(column.has_value());
    EXPECT_FALSE(column->segment_index);
    EXPECT_EQ(column->element, std::nullopt);
    EXPECT_EQ(column->loop, std::nullopt);
    EXPECT_TRUE(column->where.empty());

    const json table_value = json::parse(R"({"loops": ["2100", "2000"], "ref": null,
        "repeat": {"from": 1, "step": 2}, "columns": {"b": 1, "a": {"x": []}}})");
    const auto table = remitrax::read_table(table_value);
    ASSERT_TRUE(table.has_value()) << table.error().message;
    EXPECT_EQ(table->loops, (std::vector<std::string>{"2100", "2000"}));
    EXPECT_EQ(table->ref, std::nullopt);
    ASSERT_TRUE(table->repeat.has_value());
    EXPECT_EQ(table->repeat->from, 1u);
    EXPECT_EQ(table->repeat->step, 2u);
    // Unread members are views into the document, in key order.
    ASSERT_EQ(table->columns.size(), 2u);
    EXPECT_EQ(table->columns[0].first, "a");
    EXPECT_EQ(table->columns[0].second, &table_value.at("columns").at("a"));
    EXPECT_EQ(table->columns[1].first, "b");

    const auto version = remitrax::read_version(
        json::parse(R"({"segment": "GS", "element": 8, "values": ["005010X221A1", "x"]})"));
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->element, 8u);
    EXPECT_EQ(version->values, (std::vector<std::string>{"005010X221A1", "x"}));
}

TEST(Records, ElementNestingIsBounded) {
    // Composites nest as deep as the reader's limit, and one level more is refused instead of
    // recursing without bound.
    const auto nested = [](std::size_t depth) {
        json element = {{"name", "leaf"}, {"type", "AN"}};
        for (std::size_t i = 0; i < depth; ++i) {
            element = {{"name", "n"}, {"type", "AN"}, {"composite", {{"1", std::move(element)}}}};
        }
        return element;
    };
    EXPECT_TRUE(remitrax::read_element(nested(127)).has_value());
    const auto deep = remitrax::read_element(nested(128));
    ASSERT_FALSE(deep.has_value());
    EXPECT_EQ(deep.error().message, "recursion limit exceeded");
}

// A spec whose loops are given in the JSON out of name order.
constexpr std::string_view tree_spec = R"({
    "name": "tree",
    "loops": {
        "B": {"trigger": {"segment": "N1"}, "parent": "10"},
        "A": {"trigger": {"segment": "LX"}},
        "10": {"trigger": {"segment": "ST"}, "end": "SE"},
        "C": {"trigger": {"segment": "CLP"}, "parent": "B"},
        "D": {"trigger": {"segment": "SVC"}, "parent": "C"},
        "0": {"trigger": {"segment": "REF"}, "parent": "10"}
    }
})";

TEST(SpecModel, LoopsAreInBytewiseNameOrder) {
    const auto spec = load(tree_spec);
    ASSERT_NE(spec, nullptr);
    std::vector<std::string> loop_names;
    for (const auto& loop : spec->loops) {
        loop_names.push_back(loop.name);
    }
    EXPECT_EQ(loop_names, (std::vector<std::string>{"0", "10", "A", "B", "C", "D"}));
    EXPECT_EQ(spec->roots, (std::vector<LoopId>{1, 2}));
    EXPECT_EQ(spec->loops[1].children, (std::vector<LoopId>{0, 3}));
    EXPECT_EQ(spec->loops[3].parent, std::optional<LoopId>(1));
    EXPECT_EQ(spec->loops[3].children, (std::vector<LoopId>{4}));
    EXPECT_TRUE(spec->loops[5].children.empty());
    EXPECT_EQ(spec->name, "tree");
    EXPECT_EQ(spec->source, json::parse(tree_spec));
}

TEST(SpecModel, LoopIdFindsExactNames) {
    const auto spec = load(tree_spec);
    ASSERT_NE(spec, nullptr);
    const struct {
        std::string_view name;
        std::optional<LoopId> id;
    } cases[] = {
        {"0", 0},
        {"10", 1},
        {"A", 2},
        {"D", 5},
        {"", std::nullopt},
        {"1", std::nullopt},
        {"a", std::nullopt},
        {"100", std::nullopt},
        {"E", std::nullopt},
        {"B ", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(spec->loop_id(c.name), c.id) << c.name;
    }
    const auto empty = load(R"({"name": "x", "loops": {"": {"trigger": {"segment": "LX"}},
                                                       "2000": {"trigger": {"segment": "TS3"}}}})");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->loop_id(""), std::optional<LoopId>(0));
    EXPECT_EQ(empty->loop_id("2000"), std::optional<LoopId>(1));
}

TEST(SpecModel, AncestorsListOutermostFirst) {
    const auto spec = load(tree_spec);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->ancestors(1), (std::vector<LoopId>{}));
    EXPECT_EQ(spec->ancestors(2), (std::vector<LoopId>{}));
    EXPECT_EQ(spec->ancestors(0), (std::vector<LoopId>{1}));
    EXPECT_EQ(spec->ancestors(4), (std::vector<LoopId>{1, 3}));
    EXPECT_EQ(spec->ancestors(5), (std::vector<LoopId>{1, 3, 4}));
    EXPECT_THROW((void)spec->ancestors(6), std::out_of_range);
}

TEST(SpecModel, ElementDefLookups) {
    const auto spec = load(R"({
        "name": "x",
        "loops": {"2100": {"trigger": {"segment": "CLP"}}},
        "segments": {
            "CLP": {"elements": {"1": {"name": "claim", "type": "AN"},
                                 "2": {"name": "status", "type": "ID"}}},
            "SVC": {"elements": {"1": {"name": "procedure", "type": "AN", "composite": {
                                     "1": {"name": "qualifier", "type": "ID"},
                                     "2": {"name": "code", "type": "AN"}}},
                                 "2": {"name": "charge", "type": "R"}}},
            "LQ": {}
        }})");
    ASSERT_NE(spec, nullptr);
    const struct {
        std::string_view segment;
        std::uint64_t position;
        std::optional<std::uint64_t> component;
        std::string_view name;  // empty when nothing is defined
    } cases[] = {
        {"CLP", 1, {}, "claim"},
        {"CLP", 2, {}, "status"},
        {"CLP", 3, {}, ""},
        {"SVC", 1, {}, "procedure"},
        {"SVC", 1, 1, "qualifier"},
        {"SVC", 1, 2, "code"},
        {"SVC", 1, 3, ""},
        {"SVC", 2, {}, "charge"},
        {"SVC", 2, 1, ""},
        {"CLP", 1, 1, ""},
        {"LQ", 1, {}, ""},
        {"CAS", 1, {}, ""},
        {"", 1, {}, ""},
        {"clp", 1, {}, ""},
    };
    for (const auto& c : cases) {
        const auto* def = spec->element_def(c.segment, c.position, c.component);
        if (c.name.empty()) {
            EXPECT_EQ(def, nullptr) << c.segment << " " << c.position;
        } else {
            ASSERT_NE(def, nullptr) << c.segment << " " << c.position;
            EXPECT_EQ(def->name, c.name);
        }
    }
    EXPECT_EQ(spec->segments.size(), 3u);
    EXPECT_TRUE(spec->segments.at("LQ").empty());
}

TEST(SpecModel, LoadingReportsTheFirstFaultInStepOrder) {
    const struct {
        std::string_view text;
        std::string_view message;
    } cases[] = {
        {R"({"name": "x", "loops": {}})", R"(spec "x" declares no loops)"},
        // The shape check runs before anything is compiled.
        {R"({"name": "x", "loops": {}, "bogus": 1})",
         R"(spec: unknown key "bogus" at the top level)"},
        // Loops in name order, each checked completely before the next.
        {R"({"name": "x", "loops": {"B": {"trigger": {"segment": ""}},
                                    "A": {"trigger": {"segment": "LX"}, "parent": "Z"}}})",
         R"(loop "A" names unknown parent "Z")"},
        {R"({"name": "x", "loops": {"B": {"trigger": {"segment": "LX"}, "parent": "Z"},
                                    "A": {"trigger": {"segment": "LX"}, "segments": [""]}}})",
         R"(loop "A" has an empty segment id at segments[0])"},
        // Cycles are looked for only once every loop compiled.
        {R"({"name": "x", "loops": {"A": {"trigger": {"segment": "LX"}, "parent": "A"},
                                    "B": {"trigger": {"segment": "LX"}, "end": "LX"}}})",
         R"(loop "B" has "end" "LX", the same segment as its "trigger": the loop would close on the segment that opens it)"},
        {R"({"name": "x", "loops": {"A": {"trigger": {"segment": "LX"}, "parent": "A"}}})",
         "loops form a parent cycle: A -> A"},
        {R"({"name": "x", "loops": {"A": {"trigger": {"segment": "LX"}, "parent": "B"},
                                    "B": {"trigger": {"segment": "LX"}, "parent": "C"},
                                    "C": {"trigger": {"segment": "LX"}, "parent": "B"}}})",
         "loops form a parent cycle: B -> C -> B"},
        // Segments only after the loops; the empty id first of all segments.
        {R"({"name": "x", "loops": {"A": {"trigger": {"segment": "LX"}, "parent": "A"}},
             "segments": {"": {}}})",
         "loops form a parent cycle: A -> A"},
        {R"({"name": "x", "loops": {"A": {"trigger": {"segment": "LX"}}},
             "segments": {"": {}, "AMT": {"elements": {"0": {"name": "a", "type": "AN"}}}}})",
         R"(the spec has an empty segment id at segments."")"},
        {R"({"name": "x", "loops": {"A": {"trigger": {"segment": "LX"}}},
             "segments": {"CLP": {"elements": {"1": {"name": "a", "type": "X"}}},
                          "AMT": {"elements": {"1": {"name": "", "type": "AN"}}}}})",
         R"(segment "AMT" element "1": "name" is empty)"},
        {R"({"name": "x", "loops": {"A": {"trigger": {"segment": "LX"}}},
             "segments": {"SVC": {"elements": {"1": {"name": "a", "type": "AN",
                 "composite": {"3": {"name": "b", "type": "Q"}}}}}}})",
         R"(segment "SVC" element "1.composite.3": type "Q" is not one of AN, ID, N0 to N9, R, DT, TM)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(load_error(c.text), c.message) << c.text;
    }
    const auto bad_json = Spec::from_json(R"({"name": )");
    ASSERT_FALSE(bad_json.has_value());
    EXPECT_TRUE(std::holds_alternative<SpecError::Json>(bad_json.error().kind));
}

TEST(SpecModel, FullSpecLoads) {
    const auto spec = load(R"({
        "name": "835 sample",
        "loops": {
            "ST": {"trigger": {"segment": "ST"}, "end": "SE",
                   "control": {"opener_element": 2, "closer_element": 2, "count_element": 1,
                               "count": "segments"}},
            "1000A": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR"}},
                      "segments": ["N3", "N4", "REF", "PER"]},
            "1000B": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PE"}},
                      "segments": ["N3", "N4", "REF"]},
            "2000": {"parent": "ST", "trigger": {"segment": "LX"}, "segments": ["TS3", "TS2"]},
            "2100": {"parent": "2000", "trigger": {"segment": "CLP"},
                     "segments": ["CAS", "NM1", "DTM", "AMT"]}
        },
        "segments": {
            "CLP": {"elements": {"1": {"name": "claim_id", "type": "AN", "required": true,
                                       "max": 38},
                                 "2": {"name": "status", "type": "ID", "codes": ["4", "1", "2"]},
                                 "3": {"name": "charge", "type": "R", "scale": 2}}}
        }
    })");
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->name, "835 sample");
    ASSERT_EQ(spec->loops.size(), 5u);
    const auto st = spec->loop_id("ST");
    ASSERT_TRUE(st.has_value());
    EXPECT_EQ(spec->roots, (std::vector<LoopId>{*st}));
    EXPECT_EQ(spec->loops[*st].children, (std::vector<LoopId>{0, 1, 2}));
    EXPECT_EQ(spec->loops[*st].control,
              (remitrax::Control{2, 2, 1, remitrax::ControlCount::Segments}));
    EXPECT_EQ(remitrax::render_trigger(spec->loops[0].trigger), R"("N1" where {1: "PR"})");
    EXPECT_EQ(spec->ancestors(*spec->loop_id("2100")),
              (std::vector<LoopId>{*st, *spec->loop_id("2000")}));
    const auto* status = spec->element_def("CLP", 2);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->codes, (std::vector<std::string>{"1", "2", "4"}));
    EXPECT_EQ(spec->element_def("CLP", 3)->type.to_string(), "R (decimal, scale 2)");
}

}  // namespace

namespace remitrax {
namespace {

// A document built in code may hold whole numbers as signed integers; they load as the same
// values, and negative ones are refused as in parsed text.
TEST(SpecModel, SignedWholeNumbersBuiltInCodeLoad) {
    const auto build = [](nlohmann::json scale) {
        nlohmann::json document = {
            {"name", "signed"},
            {"loops",
             {{"t",
               {{"trigger", {{"segment", "ST"}}},
                {"end", "SE"},
                {"control",
                 {{"opener_element", std::int64_t{2}},
                  {"closer_element", std::int64_t{2}},
                  {"count_element", std::int64_t{1}},
                  {"count", "segments"}}}}}}},
            {"segments",
             {{"AMT",
               {{"elements", {{"2", {{"name", "amount"}, {"type", "R"}, {"scale", scale}}}}}}}}},
        };
        return Spec::from_value(std::move(document));
    };
    const auto loaded = build(std::int64_t{4});
    ASSERT_TRUE(loaded) << loaded.error().to_string();
    EXPECT_EQ((*loaded)->loops[0].control->opener_element, 2u);
    EXPECT_EQ((*loaded)->segments.at("AMT").at(2).type.param, 4u);

    const auto negative = build(std::int64_t{-1});
    ASSERT_FALSE(negative);
    EXPECT_EQ(negative.error().to_string(),
              "spec: the value at segments.AMT.elements.2.scale must be an integer from 0 to "
              "255; found a negative number (-1)");
    const auto large = build(std::int64_t{300});
    ASSERT_FALSE(large);
    EXPECT_EQ(large.error().to_string(),
              "spec: the value at segments.AMT.elements.2.scale must be an integer from 0 to "
              "255; found a number above 255 (300)");
}

}  // namespace
}  // namespace remitrax
