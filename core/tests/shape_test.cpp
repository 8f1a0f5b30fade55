// The shape check of spec documents: closed objects, required keys, value kinds, where null
// is accepted, the order in which faults are found and the paths that name them.
#include <gtest/gtest.h>

#include "spec/shape.hpp"

#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

namespace remitrax {

namespace {

using nlohmann::json;

struct Case {
    std::string document;
    std::string expected;
};

std::string check(const std::string& text) {
    const auto result = check_shape(json::parse(text));
    return result ? "ok" : result.error().to_string();
}

void expect_all(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        EXPECT_EQ(check(c.document), c.expected);
    }
}

// The fields of a shape error, independent of its text form.
std::string fields(const SpecError& error) {
    return std::visit(
        [](const auto& e) -> std::string {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, SpecError::NotAnObject>) {
                return "NotAnObject|" + e.path + "|" + e.found;
            } else if constexpr (std::is_same_v<E, SpecError::WrongType>) {
                return "WrongType|" + e.path + "|" + e.expected + "|" + e.found + "|" + e.value;
            } else if constexpr (std::is_same_v<E, SpecError::UnknownKey>) {
                return "UnknownKey|" + e.path + "|" + e.key;
            } else if constexpr (std::is_same_v<E, SpecError::MissingKey>) {
                return "MissingKey|" + e.path + "|" + e.key;
            } else {
                return "other variant";
            }
        },
        error.kind);
}

// A spec with one valid loop "L" and the given further top-level members.
std::string spec(std::string_view members) {
    return std::string(R"({"name": "x", "loops": {"L": {"trigger": {"segment": "LX"}}})") +
           (members.empty() ? "" : ", ") + std::string(members) + "}";
}

// A spec whose only loop "L" has the given members.
std::string loop(std::string_view members) {
    return R"({"name": "x", "loops": {"L": {)" + std::string(members) + "}}}";
}

// A spec whose element 1 of segment "S" has the given members.
std::string element(std::string_view members) {
    return spec(R"("segments": {"S": {"elements": {"1": {)" + std::string(members) + "}}}}");
}

// A spec whose column "C" of table "T" has the given members.
std::string column(std::string_view members) {
    return spec(R"("tables": {"T": {"loops": ["L"], "columns": {"C": {)" + std::string(members) +
                "}}}}");
}

TEST(Shape, AcceptsWellFormedSpecs) {
    const std::vector<std::string> documents = {
        spec(""),
        // Every object with every key.
        R"({"name": "835", "version": {"segment": "GS", "element": 8, "values": ["005010"]},
            "loops": {
              "H": {"parent": null, "trigger": {"segment": "ST", "where": {"1": "835"}},
                    "segments": ["BPR", "TRN"], "end": "SE",
                    "control": {"opener_element": 2, "closer_element": 2, "count_element": 1,
                                "count": "segments"}},
              "2000": {"parent": "H", "trigger": {"segment": "LX"}, "end": null}},
            "tables": {"claims": {"loops": ["2000"], "ref": null, "segment": "CLP",
                                  "repeat": {"from": 1, "step": 2},
                                  "columns": {"a": {"loop": null, "segment": "CLP",
                                                    "where": {"1": "x"}, "element": 1,
                                                    "component": null, "group_element": null,
                                                    "segment_index": false},
                                              "b": {}}}},
            "segments": {"CLP": {"elements": {"1": {"name": "id", "type": "AN",
                                                    "required": true, "min": null, "max": 38,
                                                    "scale": null, "codes": ["A"],
                                                    "composite": {"1": {"name": "c",
                                                                        "type": "ID"}}}}},
                         "N3": {}}})",
        // Values are not looked into: these are refused when the spec is compiled.
        R"({"name": "", "loops": {}})",
        loop(R"("trigger": {"segment": "LX"}, "end": "SE", "control": {"opener_element": 0,
               "closer_element": 0, "count_element": 0, "count": "nonsense"})"),
        spec(R"("version": {"segment": "", "element": 0, "values": []})"),
        element(R"("name": "a", "type": "??", "codes": ["1", "1"], "min": 0,
                   "max": 18446744073709551615, "scale": 255)"),
        element(R"("name": "a", "type": "AN", "scale": 0, "composite": {
                   "01": {"name": "b", "type": "AN", "composite": {}}})"),
        spec(R"("segments": {"S": {"elements": {}}}, "tables": {})"),
    };
    for (const std::string& document : documents) {
        SCOPED_TRACE(document);
        EXPECT_EQ(check(document), "ok");
    }
}

TEST(Shape, RootMustBeAnObject) {
    expect_all({
        {"[]", "the spec must be a JSON object; found an array"},
        {"[{}]", "the spec must be a JSON object; found an array"},
        {"null", "the spec must be a JSON object; found null"},
        {"true", "the spec must be a JSON object; found a boolean"},
        {"5", "the spec must be a JSON object; found a number"},
        {"-5", "the spec must be a JSON object; found a number"},
        {"2.0", "the spec must be a JSON object; found a number"},
        {R"("x")", "the spec must be a JSON object; found a string"},
    });
}

TEST(Shape, UnknownKeyIsReportedBeforeMissingKey) {
    expect_all({
        {"{}", R"(spec: missing required key "name" at the top level)"},
        {R"({"loops": {}})", R"(spec: missing required key "name" at the top level)"},
        {R"({"name": "x"})", R"(spec: missing required key "loops" at the top level)"},
        {R"({"name": "x", "loops": {}, "extra": 1})",
         R"(spec: unknown key "extra" at the top level)"},
        {R"({"extra": 1})", R"(spec: unknown key "extra" at the top level)"},
        {R"({"zz": 1, "Name": 2, "name": "x"})", R"(spec: unknown key "Name" at the top level)"},
        {loop(""), R"(spec: missing required key "trigger" at loops.L)"},
        {loop(R"("Trigger": {})"), R"(spec: unknown key "Trigger" at loops.L)"},
        {loop(R"("trigger": {})"), R"(spec: missing required key "segment" at loops.L.trigger)"},
        {loop(R"("trigger": {"segment": "LX", "when": {}})"),
         R"(spec: unknown key "when" at loops.L.trigger)"},
        // Required keys are looked for in their listed order, not in bytewise order.
        {loop(R"("trigger": {"segment": "LX"}, "control": {"count": "segments"})"),
         R"(spec: missing required key "opener_element" at loops.L.control)"},
        {loop(R"("trigger": {"segment": "LX"}, "control": {"opener_element": 1, "count": "x",
               "count_element": 1})"),
         R"(spec: missing required key "closer_element" at loops.L.control)"},
        {spec(R"("version": {"values": []})"),
         R"(spec: missing required key "segment" at version)"},
        {spec(R"("version": {"segment": "GS", "values": [], "extra": 1})"),
         R"(spec: unknown key "extra" at version)"},
        {spec(R"("tables": {"T": {"repeat": {}}})"),
         R"(spec: missing required key "loops" at tables.T)"},
        {spec(R"("tables": {"T": {"loops": [], "repeat": {"step": 1}}})"),
         R"(spec: missing required key "from" at tables.T.repeat)"},
        {column(R"("elements": 1)"), R"(spec: unknown key "elements" at tables.T.columns.C)"},
        {spec(R"("segments": {"S": {"element": {}}})"),
         R"(spec: unknown key "element" at segments.S)"},
        {element(""), R"(spec: missing required key "name" at segments.S.elements.1)"},
        {element(R"("type": "AN", "codes": [])"),
         R"(spec: missing required key "name" at segments.S.elements.1)"},
        {element(R"("name": "a")"),
         R"(spec: missing required key "type" at segments.S.elements.1)"},
        {element(R"("desc": "a")"), R"(spec: unknown key "desc" at segments.S.elements.1)"},
    });
}

TEST(Shape, ScalarKindsAndTheirFoundWords) {
    expect_all({
        {R"({"name": 5, "loops": {}})",
         "spec: the value at name must be a string; found a number (5)"},
        {R"({"name": -5, "loops": {}})",
         "spec: the value at name must be a string; found a number (-5)"},
        {R"({"name": 2.0, "loops": {}})",
         "spec: the value at name must be a string; found a number (2.0)"},
        {R"({"name": null, "loops": {}})", "spec: the value at name must be a string; found null"},
        {R"({"name": false, "loops": {}})",
         "spec: the value at name must be a string; found a boolean (false)"},
        {R"({"name": [1], "loops": {}})",
         "spec: the value at name must be a string; found an array (1 items)"},
        {R"({"name": {"a": 1}, "loops": {}})",
         "spec: the value at name must be a string; found an object (1 members)"},
        {column(R"("segment_index": "yes")"),
         R"(spec: the value at tables.T.columns.C.segment_index must be a boolean; found a string ("yes"))"},
        {column(R"("segment_index": 1)"),
         "spec: the value at tables.T.columns.C.segment_index must be a boolean; found a number "
         "(1)"},
        {element(R"("name": "a", "type": "R", "scale": 300)"),
         "spec: the value at segments.S.elements.1.scale must be an integer from 0 to 255; "
         "found a number above 255 (300)"},
        {element(R"("name": "a", "type": "R", "scale": 256)"),
         "spec: the value at segments.S.elements.1.scale must be an integer from 0 to 255; "
         "found a number above 255 (256)"},
        {element(R"("name": "a", "type": "R", "scale": -1)"),
         "spec: the value at segments.S.elements.1.scale must be an integer from 0 to 255; "
         "found a negative number (-1)"},
        {element(R"("name": "a", "type": "R", "scale": 2.0)"),
         "spec: the value at segments.S.elements.1.scale must be an integer from 0 to 255; "
         "found a floating-point number (2.0)"},
        {element(R"("name": "a", "type": "AN", "min": -1)"),
         "spec: the value at segments.S.elements.1.min must be a non-negative integer; "
         "found a negative number (-1)"},
        {element(R"("name": "a", "type": "AN", "max": 2.5)"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found a number with a fractional part (2.5)"},
        {element(R"("name": "a", "type": "AN", "max": -0.5)"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found a number with a fractional part (-0.5)"},
        {element(R"("name": "a", "type": "AN", "max": 3.0)"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found a floating-point number (3.0)"},
        {element(R"("name": "a", "type": "AN", "max": 1e2)"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found a floating-point number (100.0)"},
        {element(R"("name": "a", "type": "AN", "max": -4.0)"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found a floating-point number (-4.0)"},
        // One past the largest unsigned integer is read as a floating-point number.
        {element(R"("name": "a", "type": "AN", "max": 18446744073709551616)"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found a floating-point number (1.8446744073709552e+19)"},
        {element(R"("name": "a", "type": "AN", "max": "3")"),
         R"(spec: the value at segments.S.elements.1.max must be a non-negative integer; found a string ("3"))"},
        {element(R"("name": "a", "type": "AN", "max": true)"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found a boolean (true)"},
        {element(R"("name": "a", "type": "AN", "max": {})"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found an object (0 members)"},
        {spec(R"("version": {"segment": "GS", "element": -8, "values": []})"),
         "spec: the value at version.element must be a non-negative integer; "
         "found a negative number (-8)"},
        {spec(R"("tables": {"T": {"loops": [], "repeat": {"from": 1, "step": 0.5}}})"),
         "spec: the value at tables.T.repeat.step must be a non-negative integer; "
         "found a number with a fractional part (0.5)"},
    });
}

TEST(Shape, ArraysOfStringsAndWhereMaps) {
    expect_all({
        {loop(R"("trigger": {"segment": "LX"}, "segments": "N3")"),
         R"(spec: the value at loops.L.segments must be an array of strings; found a string ("N3"))"},
        {loop(R"("trigger": {"segment": "LX"}, "segments": ["N3", 4])"),
         "spec: the value at loops.L.segments[1] must be a string; found a number (4)"},
        {loop(R"("trigger": {"segment": "LX"}, "segments": [null, 4])"),
         "spec: the value at loops.L.segments[0] must be a string; found null"},
        {loop(R"("trigger": {"segment": "LX"}, "segments": 4)"),
         "spec: the value at loops.L.segments must be an array of strings; found a number (4)"},
        {loop(R"("trigger": {"segment": "LX"}, "segments": [["N3"]])"),
         "spec: the value at loops.L.segments[0] must be a string; found an array (1 items)"},
        {element(R"("name": "a", "type": "ID", "codes": {"a": "b"})"),
         "spec: the value at segments.S.elements.1.codes must be an array of strings; "
         "found an object (1 members)"},
        {spec(
             R"("tables": {"T": {"loops": ["L", "M", "N", "O", "P", "Q", "R", "S", "T", "U", 0]}})"),
         "spec: the value at tables.T.loops[10] must be a string; found a number (0)"},
        {spec(R"("version": {"segment": "GS", "element": 8, "values": "005010"})"),
         R"(spec: the value at version.values must be an array of strings; found a string ("005010"))"},
        {loop(R"("trigger": {"segment": "LX", "where": {"1": 5}})"),
         "spec: the value at loops.L.trigger.where.1 must be a string; found a number (5)"},
        {loop(R"("trigger": {"segment": "LX", "where": {"1": "a", "2": null}})"),
         "spec: the value at loops.L.trigger.where.2 must be a string; found null"},
        {loop(R"("trigger": {"segment": "LX", "where": ["1"]})"),
         "spec: the value at loops.L.trigger.where must be a JSON object; found an array"},
        {column(R"("where": "1")"),
         "spec: the value at tables.T.columns.C.where must be a JSON object; found a string"},
        {column(R"("where": {"2": true})"),
         "spec: the value at tables.T.columns.C.where.2 must be a string; found a boolean (true)"},
    });
}

TEST(Shape, NullStandsForAbsentOnlyInOptionalStringsAndIntegers) {
    expect_all({
        {loop(R"("trigger": {"segment": "LX"}, "parent": null, "end": null)"), "ok"},
        {spec(R"("tables": {"T": {"loops": [], "ref": null, "segment": null}})"), "ok"},
        {column(R"("loop": null, "segment": null, "element": null, "component": null,
                   "group_element": null)"),
         "ok"},
        {element(R"("name": "a", "type": "R", "min": null, "max": null, "scale": null)"), "ok"},
        {column(R"("segment_index": null)"),
         "spec: the value at tables.T.columns.C.segment_index must be a boolean; found null"},
        {element(R"("name": "a", "type": "AN", "required": null)"),
         "spec: the value at segments.S.elements.1.required must be a boolean; found null"},
        {element(R"("name": "a", "type": null)"),
         "spec: the value at segments.S.elements.1.type must be a string; found null"},
        {element(R"("name": "a", "type": "ID", "codes": null)"),
         "spec: the value at segments.S.elements.1.codes must be an array of strings; found null"},
        {element(R"("name": "a", "type": "AN", "composite": null)"),
         "spec: the value at segments.S.elements.1.composite must be a JSON object; found null"},
        {loop(R"("trigger": null)"),
         "spec: the value at loops.L.trigger must be a JSON object; found null"},
        {loop(R"("trigger": {"segment": null})"),
         "spec: the value at loops.L.trigger.segment must be a string; found null"},
        {loop(R"("trigger": {"segment": "LX", "where": null})"),
         "spec: the value at loops.L.trigger.where must be a JSON object; found null"},
        {loop(R"("trigger": {"segment": "LX"}, "segments": null)"),
         "spec: the value at loops.L.segments must be an array of strings; found null"},
        {loop(R"("trigger": {"segment": "LX"}, "control": null)"),
         "spec: the value at loops.L.control must be a JSON object; found null"},
        {loop(R"("trigger": {"segment": "LX"}, "control": {"opener_element": 1,
               "closer_element": null, "count_element": 1, "count": "segments"})"),
         "spec: the value at loops.L.control.closer_element must be a non-negative integer; "
         "found null"},
        {loop(R"("trigger": {"segment": "LX"}, "control": {"opener_element": 1,
               "closer_element": 1, "count_element": 1, "count": null})"),
         "spec: the value at loops.L.control.count must be a string; found null"},
        {spec(R"("version": null)"),
         "spec: the value at version must be a JSON object; found null"},
        {spec(R"("version": {"segment": "GS", "element": null, "values": []})"),
         "spec: the value at version.element must be a non-negative integer; found null"},
        {spec(R"("tables": {"T": {"loops": [], "repeat": null}})"),
         "spec: the value at tables.T.repeat must be a JSON object; found null"},
        {spec(R"("tables": {"T": {"loops": [], "repeat": {"from": null, "step": 1}}})"),
         "spec: the value at tables.T.repeat.from must be a non-negative integer; found null"},
        {spec(R"("tables": {"T": {"loops": null}})"),
         "spec: the value at tables.T.loops must be an array of strings; found null"},
        {spec(R"("tables": {"T": {"loops": [], "columns": null}})"),
         "spec: the value at tables.T.columns must be a JSON object; found null"},
        {spec(R"("tables": {"T": null})"),
         "spec: the value at tables.T must be a JSON object; found null"},
        {spec(R"("tables": null)"), "spec: the value at tables must be a JSON object; found null"},
        {spec(R"("segments": null)"),
         "spec: the value at segments must be a JSON object; found null"},
        {spec(R"("segments": {"S": {"elements": null}})"),
         "spec: the value at segments.S.elements must be a JSON object; found null"},
        {R"({"name": "x", "loops": null})",
         "spec: the value at loops must be a JSON object; found null"},
    });
}

TEST(Shape, ObjectsCarryNoRenderedValue) {
    expect_all({
        {loop(R"("trigger": {"segment": "LX"}, "control": [1, 2])"),
         "spec: the value at loops.L.control must be a JSON object; found an array"},
        {loop(R"("trigger": "LX")"),
         "spec: the value at loops.L.trigger must be a JSON object; found a string"},
        {R"({"name": "x", "loops": {"L": 7}})",
         "spec: the value at loops.L must be a JSON object; found a number"},
        {spec(R"("version": 1.5)"),
         "spec: the value at version must be a JSON object; found a number"},
        {spec(R"("segments": {"S": true})"),
         "spec: the value at segments.S must be a JSON object; found a boolean"},
        {spec(R"("segments": {"S": {"elements": {"1": -3}}})"),
         "spec: the value at segments.S.elements.1 must be a JSON object; found a number"},
        {spec(R"("tables": {"T": {"loops": [], "columns": {"C": []}}})"),
         "spec: the value at tables.T.columns.C must be a JSON object; found an array"},
    });
}

TEST(Shape, FirstFaultInVisitOrderIsReported) {
    expect_all({
        // name, version, loops, tables, segments.
        {R"({"name": 1, "loops": 2, "version": 3})",
         "spec: the value at name must be a string; found a number (1)"},
        {R"({"name": "x", "loops": 2, "version": 3})",
         "spec: the value at version must be a JSON object; found a number"},
        {R"({"name": "x", "loops": {"L": 1}, "tables": 1, "segments": 1})",
         "spec: the value at loops.L must be a JSON object; found a number"},
        {spec(R"("tables": 1, "segments": 1)"),
         "spec: the value at tables must be a JSON object; found a number"},
        // Entries in bytewise key order.
        {R"({"name": "x", "loops": {"2000": {}, "1000A": {}}})",
         R"(spec: missing required key "trigger" at loops.1000A)"},
        {spec(R"("segments": {"S": {"elements": {"9": {}, "10": {}}}})"),
         R"(spec: missing required key "name" at segments.S.elements.10)"},
        // A loop's members: keys, parent, end, segments, trigger, control.
        {loop(R"("parent": 1, "extra": 1)"), R"(spec: unknown key "extra" at loops.L)"},
        {loop(R"("trigger": {"segment": "LX"}, "parent": 1, "end": 1)"),
         "spec: the value at loops.L.parent must be a string; found a number (1)"},
        {loop(R"("trigger": {"segment": "LX"}, "end": 1, "segments": 1)"),
         "spec: the value at loops.L.end must be a string; found a number (1)"},
        {loop(R"("trigger": 1, "segments": 1)"),
         "spec: the value at loops.L.segments must be an array of strings; found a number (1)"},
        {loop(R"("trigger": 1, "control": 1)"),
         "spec: the value at loops.L.trigger must be a JSON object; found a number"},
        {loop(R"("trigger": {"segment": 1, "where": 1})"),
         "spec: the value at loops.L.trigger.segment must be a string; found a number (1)"},
        {loop(R"("trigger": {"segment": "LX"}, "control": {"opener_element": -1,
               "closer_element": -2, "count_element": -3, "count": 4})"),
         "spec: the value at loops.L.control.opener_element must be a non-negative integer; "
         "found a negative number (-1)"},
        {loop(R"("trigger": {"segment": "LX"}, "control": {"opener_element": 1,
               "closer_element": -2, "count_element": -3, "count": 4})"),
         "spec: the value at loops.L.control.closer_element must be a non-negative integer; "
         "found a negative number (-2)"},
        {loop(R"("trigger": {"segment": "LX"}, "control": {"opener_element": 1,
               "closer_element": 2, "count_element": 3, "count": 4})"),
         "spec: the value at loops.L.control.count must be a string; found a number (4)"},
        // A version's members: segment, element, values.
        {spec(R"("version": {"segment": 1, "element": "a", "values": 1})"),
         "spec: the value at version.segment must be a string; found a number (1)"},
        {spec(R"("version": {"segment": "GS", "element": "a", "values": 1})"),
         R"(spec: the value at version.element must be a non-negative integer; found a string ("a"))"},
        // A table's members: loops, ref, segment, repeat, columns.
        {spec(R"("tables": {"T": {"loops": 1, "ref": 1}})"),
         "spec: the value at tables.T.loops must be an array of strings; found a number (1)"},
        {spec(R"("tables": {"T": {"loops": [], "ref": 1, "segment": 1}})"),
         "spec: the value at tables.T.ref must be a string; found a number (1)"},
        {spec(R"("tables": {"T": {"loops": [], "segment": 1, "repeat": 1}})"),
         "spec: the value at tables.T.segment must be a string; found a number (1)"},
        {spec(R"("tables": {"T": {"loops": [], "repeat": 1, "columns": 1}})"),
         "spec: the value at tables.T.repeat must be a JSON object; found a number"},
        // A column's members: loop, segment, where, element, component, group_element,
        // segment_index.
        {column(R"("loop": 1, "segment": 1)"),
         "spec: the value at tables.T.columns.C.loop must be a string; found a number (1)"},
        {column(R"("segment": 1, "where": 1)"),
         "spec: the value at tables.T.columns.C.segment must be a string; found a number (1)"},
        {column(R"("where": 1, "element": -1)"),
         "spec: the value at tables.T.columns.C.where must be a JSON object; found a number"},
        {column(R"("element": -1, "component": -2)"),
         "spec: the value at tables.T.columns.C.element must be a non-negative integer; "
         "found a negative number (-1)"},
        {column(R"("component": -2, "group_element": -3)"),
         "spec: the value at tables.T.columns.C.component must be a non-negative integer; "
         "found a negative number (-2)"},
        {column(R"("group_element": -3, "segment_index": 1)"),
         "spec: the value at tables.T.columns.C.group_element must be a non-negative integer; "
         "found a negative number (-3)"},
        // An element's members: codes, name, type, required, min, max, scale, composite.
        {element(R"("name": 1, "type": 1, "codes": 1)"),
         "spec: the value at segments.S.elements.1.codes must be an array of strings; "
         "found a number (1)"},
        {element(R"("name": 1, "type": 1)"),
         "spec: the value at segments.S.elements.1.name must be a string; found a number (1)"},
        {element(R"("name": "a", "type": 1, "required": 1)"),
         "spec: the value at segments.S.elements.1.type must be a string; found a number (1)"},
        {element(R"("name": "a", "type": "AN", "required": 1, "min": -1)"),
         "spec: the value at segments.S.elements.1.required must be a boolean; found a number (1)"},
        {element(R"("name": "a", "type": "AN", "min": -1, "max": -2)"),
         "spec: the value at segments.S.elements.1.min must be a non-negative integer; "
         "found a negative number (-1)"},
        {element(R"("name": "a", "type": "AN", "max": -2, "scale": -3)"),
         "spec: the value at segments.S.elements.1.max must be a non-negative integer; "
         "found a negative number (-2)"},
        {element(R"("name": "a", "type": "AN", "scale": -3, "composite": 1)"),
         "spec: the value at segments.S.elements.1.scale must be an integer from 0 to 255; "
         "found a negative number (-3)"},
        // Components are visited before the next element.
        {spec(R"("segments": {"S": {"elements": {
                   "1": {"name": "a", "type": "AN", "composite": {"1": {"name": "b"}}},
                   "2": {}}}})"),
         R"(spec: missing required key "type" at segments.S.elements.1.composite.1)"},
        {spec(R"("segments": {"S": {"elements": {
                   "1": {"name": "a", "type": "AN", "composite": {"1": {"name": "b",
                         "type": "AN", "composite": {"3": {"type": "AN"}}}}}}}})"),
         R"(spec: missing required key "name" at segments.S.elements.1.composite.1.composite.3)"},
    });
}

TEST(Shape, PathsQuoteKeysThatNeedIt) {
    expect_all({
        {R"({"name": "x", "loops": {"a.b": {}}})",
         R"(spec: missing required key "trigger" at loops."a.b")"},
        {R"({"name": "x", "loops": {"a.b": {"trigger": {"segment": "LX", "where": {"x y": 1}}}}})",
         R"(spec: the value at loops."a.b".trigger.where."x y" must be a string; found a number (1))"},
        {R"({"name": "x", "loops": {"": {"trigger": 1}}})",
         R"(spec: the value at loops."".trigger must be a JSON object; found a number)"},
        {R"({"name": "x", "loops": {"L": {"trigger": {"segment": "LX"}, "a b": 1}}})",
         R"(spec: unknown key "a b" at loops.L)"},
        {R"({"name": "x", "loops": {"a\tb": {"trigger": {"segment": "LX"}, "e\"x": 1}}})",
         R"(spec: unknown key "e\"x" at loops."a\tb")"},
        {R"({"name": "x", "loops": {"a b": {"trigger": {"segment": "LX"}, "segments": [1]}}})",
         R"(spec: the value at loops."a b".segments[0] must be a string; found a number (1))"},
        {spec(R"("tables": {"a/b": {"loops": [], "columns": {"#1": {"element": "1"}}}})"),
         R"(spec: the value at tables."a/b".columns."#1".element must be a non-negative integer; found a string ("1"))"},
        {spec(R"("segments": {"S.1": {"elements": {"1 ": 5}}})"),
         R"(spec: the value at segments."S.1".elements."1 " must be a JSON object; found a number)"},
        {R"({"name": "x", "loops": {}, "\u00e9\n": 1})",
         "spec: unknown key \"\u00e9\\n\" at the top level"},
    });
}

TEST(Shape, ErrorFieldsNameThePlaceAndKinds) {
    const std::vector<Case> cases = {
        {"[]", "NotAnObject||an array"},
        {R"({"name": null, "loops": {}})", "WrongType|name|a string|null|"},
        {R"({"name": "x", "loops": {"a.b": {"trigger": {"segment": "LX"}, "end": 4}}})",
         R"(WrongType|loops."a.b".end|a string|a number|4)"},
        {element(R"("name": "a", "type": "R", "scale": 300)"),
         "WrongType|segments.S.elements.1.scale|an integer from 0 to 255|a number above 255|300"},
        {element(R"("name": "a", "type": "ID", "codes": ["A", {}])"),
         "WrongType|segments.S.elements.1.codes[1]|a string|an object|0 members"},
        {R"({"loops": {}, "x": 1})", "UnknownKey||x"},
        {loop(R"("trigger": {"segment": "LX"}, "control": {"count": "x"})"),
         "MissingKey|loops.L.control|opener_element"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        const auto result = check_shape(json::parse(c.document));
        ASSERT_FALSE(result);
        EXPECT_EQ(fields(result.error()), c.expected);
    }
}

TEST(Shape, DeepCompositeNestingDoesNotDeepenTheCallStack) {
    // Far deeper than any call stack could follow one frame per level; the fault sits at the
    // bottom so every level is visited.
    constexpr std::size_t depth = 200000;
    std::string text = R"({"name": "x", "loops": {}, "segments": {"S": {"elements": )";
    std::string expected_path = "segments.S.elements";
    for (std::size_t i = 0; i < depth; ++i) {
        text += R"({"1": {"name": "n", "type": "AN", "composite": )";
        expected_path += ".1.composite";
    }
    text += R"({"2": {"name": "n", "type": "AN", "min": -1}})";
    expected_path += ".2.min";
    for (std::size_t i = 0; i < depth; ++i) {
        text += "}}";
    }
    text += "}}}";
    const auto result = check_shape(json::parse(text));
    ASSERT_FALSE(result);
    EXPECT_EQ(fields(result.error()),
              "WrongType|" + expected_path + "|a non-negative integer|a negative number|-1");
}

TEST(Shape, SectionListsEntriesInBytewiseOrder) {
    const json document = json::parse(
        R"({"name": "x", "loops": {"B": 1, "A": 2, "10": 3, "\u00e9": 4, "a": 5},
            "tables": [1], "segments": null})");
    std::vector<std::string> names;
    for (const auto& [name, value] : section(document, "loops")) {
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"10", "A", "B", "a", "\u00e9"}));
    EXPECT_TRUE(section(document, "tables").empty());
    EXPECT_TRUE(section(document, "segments").empty());
    EXPECT_TRUE(section(document, "version").empty());
    EXPECT_TRUE(section(json::parse("[]"), "loops").empty());
    EXPECT_EQ(section(document, "loops").at("A"), 2);
}

}  // namespace

}  // namespace remitrax
