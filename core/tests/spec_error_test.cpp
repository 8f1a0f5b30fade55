// The user messages and debug forms of spec errors.
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "spec/error.hpp"

namespace {

using remitrax::ControlError;
using remitrax::ElementDefError;
using remitrax::ReaderError;
using remitrax::SpecError;
using remitrax::TableDefError;
using remitrax::VersionError;
using std::nullopt;

template <typename Error>
struct Case {
    Error error;
    std::string text;
};

// Checks each text and that the cases reach every variant of the error type.
template <typename Error>
void expect_texts(const std::vector<Case<Error>>& cases, std::size_t variants) {
    std::set<std::size_t> seen;
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.to_string(), c.text);
        seen.insert(c.error.kind.index());
    }
    EXPECT_EQ(seen.size(), variants);
}

SpecError patch(SpecError inner) {
    return SpecError{SpecError::Patch{std::make_shared<const SpecError>(std::move(inner))}};
}

TEST(SpecError, EveryVariantHasItsMessage) {
    using E = SpecError;
    const std::vector<Case<SpecError>> cases = {
        {{E::Json{"parse error at line 3, column 0: unexpected end of input"}},
         "invalid spec JSON: parse error at line 3, column 0: unexpected end of input"},
        {{E::Schema{"2000", ReaderError{"missing field `trigger`"}}},
         R"(loop "2000" does not match the schema: missing field `trigger`)"},
        {{E::Schema{nullopt, ReaderError{"missing field `name`"}}},
         "spec does not match the schema: missing field `name`"},
        {patch(E{E::NoLoops{"835"}}), R"(applying patch: spec "835" declares no loops)"},
        {{E::UnknownParent{"2100", "2000"}}, R"(loop "2100" names unknown parent "2000")"},
        {{E::Cycle{{"A", "B"}}}, "loops form a parent cycle: A -> B -> A"},
        {{E::NoLoops{""}}, R"(spec "" declares no loops)"},
        {{E::EmptySegmentId{"2000", "segments[2]"}},
         R"(loop "2000" has an empty segment id at segments[2])"},
        {{E::EmptySegmentId{nullopt, "version.segment"}},
         "the spec has an empty segment id at version.segment"},
        {{E::EndIsTrigger{"2000", "LX"}},
         R"(loop "2000" has "end" "LX", the same segment as its "trigger": the loop would close )"
         "on the segment that opens it"},
        {{E::BadPosition{"2100", "01"}},
         R"(loop "2100" has an invalid "where" position "01": positions are 1-based integers )"
         "written in canonical form"},
        {{E::NotAnObject{"loops.2000", "array"}},
         "spec: the value at loops.2000 must be a JSON object; found array"},
        {{E::NotAnObject{"", "string"}}, "the spec must be a JSON object; found string"},
        {{E::WrongType{"name", "a string", "number", "12"}},
         "spec: the value at name must be a string; found number (12)"},
        {{E::WrongType{"loops.A.segments", "an array", "null", ""}},
         "spec: the value at loops.A.segments must be an array; found null"},
        {{E::UnknownKey{"loops.2000", "trigers"}}, R"(spec: unknown key "trigers" at loops.2000)"},
        {{E::UnknownKey{"", "nmae"}}, R"(spec: unknown key "nmae" at the top level)"},
        {{E::MissingKey{"loops.2000.trigger", "segment"}},
         R"(spec: missing required key "segment" at loops.2000.trigger)"},
        {{E::MissingKey{"", "loops"}}, R"(spec: missing required key "loops" at the top level)"},
        {{E::SegmentSchema{"CLP", ReaderError{"invalid type: string, expected a map"}}},
         R"(segment "CLP" does not match the schema: invalid type: string, expected a map)"},
        {{E::BadElementDef{"CLP", "02", ElementDefError{ElementDefError::NonCanonicalPosition{}}}},
         R"(segment "CLP" element "02": positions are 1-based integers written in canonical form)"},
        {{E::TableSchema{"claims", "paid", ReaderError{"unknown field `elemnt`"}}},
         R"(table "claims" column "paid" does not match the schema: unknown field `elemnt`)"},
        {{E::TableSchema{"claims", nullopt, ReaderError{"missing field `loops`"}}},
         R"(table "claims" does not match the schema: missing field `loops`)"},
        {{E::BadTable{"claims", "paid", TableDefError{TableDefError::NeedsSegment{}}}},
         R"(table "claims" column "paid": the column names no "segment" to read)"},
        {{E::BadTable{"claims", nullopt, TableDefError{TableDefError::NoLoops{}}}},
         R"(table "claims": "loops" is empty; a table anchors in at least one loop)"},
        {{E::BadVersion{VersionError{VersionError::NoValues{}}}},
         R"(the spec's "version" is invalid: "values" is empty; list at least one value the )"
         "element may hold"},
        {{E::BadControl{"2000", ControlError{ControlError::NoEnd{}}}},
         R"(loop "2000" has an invalid "control": the loop has no "end" segment to check)"},
        {{E::AmbiguousTrigger{"2100", "2110", "2000", "NM1", {{1, "QC"}, {10, "x\"y"}}}},
         R"(loops "2100" and "2110" under "2000" share the identical trigger "NM1" where )"
         R"({1: "QC", 10: "x\"y"})"},
        {{E::OverlappingTriggers{"2000", "2100", "2110", "NM1[1=QC]", "NM1[2=1]"}},
         R"(loops "2100" and "2110" under "2000" can open on the same segment: "2100" on )"
         R"(NM1[1=QC], "2110" on NM1[2=1], no position they both test requires different )"
         "values, and neither trigger is more specific than the other"},
        {{E::OverlappingTriggers{nullopt, "A", "B", "ISA", "ISA[1=00]"}},
         R"(loops "A" and "B" under the root can open on the same segment: "A" on ISA, "B" on )"
         "ISA[1=00], no position they both test requires different values, and neither trigger "
         "is more specific than the other"},
    };
    expect_texts(cases, 21);
}

TEST(SpecError, CycleListsMembersAndReturnsToTheFirst) {
    const std::vector<Case<SpecError>> cases = {
        {{SpecError::Cycle{{}}}, "loops form a parent cycle: "},
        {{SpecError::Cycle{{"A"}}}, "loops form a parent cycle: A -> A"},
        {{SpecError::Cycle{{"2000", "2100"}}}, "loops form a parent cycle: 2000 -> 2100 -> 2000"},
        // Members are plain, not quoted.
        {{SpecError::Cycle{{"a b", "c\"d"}}}, "loops form a parent cycle: a b -> c\"d -> a b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.to_string(), c.text);
    }
}

TEST(SpecError, AmbiguousTriggerNamesParentAndConditionsOnlyWhenPresent) {
    using A = SpecError::AmbiguousTrigger;
    const std::vector<Case<SpecError>> cases = {
        {{A{"A", "B", nullopt, "ISA", {}}},
         R"(loops "A" and "B" under the root share the identical trigger "ISA")"},
        {{A{"A", "B", "P", "ISA", {}}},
         R"(loops "A" and "B" under "P" share the identical trigger "ISA")"},
        {{A{"A", "B", nullopt, "N1", {{1, "PR"}}}},
         R"(loops "A" and "B" under the root share the identical trigger "N1" where {1: "PR"})"},
        {{A{"A", "B", "", "N1", {{2, ""}, {3, "\t"}}}},
         R"(loops "A" and "B" under "" share the identical trigger "N1" where {2: "", 3: "\t"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.to_string(), c.text);
    }
}

TEST(SpecError, QuotedArgumentsEscapeQuotesControlsAndInvalidBytes) {
    const std::vector<Case<SpecError>> cases = {
        {{SpecError::UnknownParent{"a\"b", "c\td"}}, R"(loop "a\"b" names unknown parent "c\td")"},
        {{SpecError::NoLoops{"x\\y\n"}}, R"(spec "x\\y\n" declares no loops)"},
        {{SpecError::NoLoops{std::string("a\0b", 3)}}, R"(spec "a\0b" declares no loops)"},
        {{SpecError::NoLoops{"\xc3\xa9\xff"}}, "spec \"\xc3\xa9\\xFF\" declares no loops"},
        // Plain arguments are copied as they are.
        {{SpecError::EmptySegmentId{"a\"b", "segments[0]"}},
         R"(loop "a\"b" has an empty segment id at segments[0])"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.to_string(), c.text);
    }
}

TEST(SpecError, PatchWrapsTheInnerMessage) {
    const SpecError inner{SpecError::UnknownKey{"", "x"}};
    EXPECT_EQ(patch(inner).to_string(),
              R"(applying patch: spec: unknown key "x" at the top level)");
    EXPECT_EQ(patch(patch(inner)).to_string(),
              R"(applying patch: applying patch: spec: unknown key "x" at the top level)");
}

TEST(SpecError, ElementDefinitionReasons) {
    using E = ElementDefError;
    const std::vector<Case<ElementDefError>> cases = {
        {{E::NonCanonicalPosition{}}, "positions are 1-based integers written in canonical form"},
        {{E::EmptyName{}}, R"("name" is empty)"},
        {{E::DuplicateName{"amount", "1"}}, R"(name "amount" is already used by position "1")"},
        {{E::UnknownType{"n2"}}, R"(type "n2" is not one of AN, ID, N0 to N9, R, DT, TM)"},
        {{E::ScaleWithoutR{"N2"}}, R"("scale" applies only to type R; found type "N2")"},
        {{E::MinAboveMax{3, 2}}, R"("min" 3 is greater than "max" 2)"},
        {{E::CompositeOnNonAn{"ID"}}, R"("composite" requires type AN; found type "ID")"},
        {{E::NestedComposite{}}, R"(a component cannot declare its own "composite")"},
        {{E::ScaleAboveMaximum{19}}, R"("scale" 19 is above the maximum of 18)"},
        {{E::ZeroMax{}}, R"("max" is 0; an element holds at least one character)"},
        {{E::EmptyCodes{}}, R"("codes" is empty; leave the key out to accept any value)"},
        {{E::EmptyCode{1}}, "the code at codes[1] is empty"},
        {{E::CodeLength{"AB", 0, 2, 3, 5}},
         R"(code "AB" at codes[0] has length 2; the element allows 3 to 5)"},
        {{E::DuplicateCode{"A", 0, 2}}, R"(code "A" is listed twice, at codes[0] and codes[2])"},
        {{E::CodesOnComposite{}},
         R"("codes" applies to a simple element or a component; this element declares a )"
         R"("composite")"},
        {{E::CodesOnNumeric{"N0"}},
         R"("codes" applies to non-numeric types; type "N0" holds numbers, which one value can )"
         "write several ways (1, 01, 1.0)"},
    };
    expect_texts(cases, 16);

    const SpecError wrapped{SpecError::BadElementDef{"NM1", "1.composite.2", {E::EmptyName{}}}};
    EXPECT_EQ(wrapped.to_string(), R"(segment "NM1" element "1.composite.2": "name" is empty)");
}

TEST(SpecError, CodeLengthNamesTheBoundsPresent) {
    using E = ElementDefError;
    const std::vector<Case<ElementDefError>> cases = {
        {{E::CodeLength{"ABC", 4, 3, 1, 2}},
         R"(code "ABC" at codes[4] has length 3; the element allows 1 to 2)"},
        {{E::CodeLength{"A", 0, 1, 2, nullopt}},
         R"(code "A" at codes[0] has length 1; the element allows at least 2)"},
        {{E::CodeLength{"AB", 1, 2, nullopt, 1}},
         R"(code "AB" at codes[1] has length 2; the element allows at most 1)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.to_string(), c.text);
    }
}

TEST(SpecError, ControlReasons) {
    using E = ControlError;
    const std::vector<Case<ControlError>> cases = {
        {{E::ZeroPosition{"count_element"}},
         R"("count_element" must be a 1-based element position; found 0)"},
        {{E::UnknownCount{"segment"}},
         R"("count" must be "segments" or "children"; found "segment")"},
        {{E::NoEnd{}}, R"(the loop has no "end" segment to check)"},
    };
    expect_texts(cases, 3);
}

TEST(SpecError, TableDefinitionReasons) {
    using E = TableDefError;
    const std::vector<Case<TableDefError>> cases = {
        {{E::Empty{"column name"}}, "the column name is empty"},
        {{E::NoLoops{}}, R"("loops" is empty; a table anchors in at least one loop)"},
        {{E::DuplicateLoop{"2100"}}, R"(loop "2100" is listed more than once in "loops")"},
        {{E::UnknownLoop{"2101"}}, R"(loop "2101" does not exist)"},
        {{E::ReservedName{"_row"}}, R"(the name "_row" is taken by an automatic column)"},
        {{E::RefTaken{"claim", "claims"}}, R"("ref" "claim" is already used by table "claims")"},
        {{E::RepeatWithoutSegment{}},
         R"("repeat" requires "segment": only a segment's elements repeat)"},
        {{E::ZeroStep{}}, R"("repeat.step" is 0)"},
        {{E::ZeroPosition{"repeat.from"}}, R"("repeat.from" must be a 1-based position; found 0)"},
        {{E::BadPosition{"+1"}},
         R"("where" position "+1" is not a 1-based integer in canonical form)"},
        {{E::OffsetBeyondStep{3, 3}},
         R"("group_element" 3 is outside a group of 3 elements (offsets start at 0))"},
        {{E::NestedAnchors{"2000", "2100"}},
         R"(anchor loops "2000" and "2100" nest; a table without "segment" anchors in loops )"
         "that do not"},
        {{E::SharedAnchor{"2100", "claims"}},
         R"(loop "2100" already anchors table "claims"; a loop anchors at most one table )"
         R"(without "segment")"},
        {{E::UnrelatedAnchors{"2100", {"payments", "my claims"}, "1000B", {}}},
         R"(anchor loops "2100" and "1000B" sit under tables that are not one chain: "2100" )"
         R"(under payments/"my claims", "1000B" under no table)"},
        {{E::NotADescendant{"1000A", "2100"}}, R"(loop "1000A" is not inside anchor loop "2100")"},
        {{E::SegmentNotHeld{"SVC", "2100"}},
         R"(segment "SVC" is neither the trigger nor a segment of loop "2100", so it is never )"
         "read there"},
        {{E::AnchorSegmentOnly{"where", R"({"1":"HC"})", "SVC"}},
         R"("where" ({"1":"HC"}) does not apply in a table anchored on segment "SVC": its )"
         "columns read that segment"},
        {{E::NeedsSegment{}}, R"(the column names no "segment" to read)"},
        {{E::GroupWithoutRepeat{}}, R"("group_element" requires the table's "repeat")"},
        {{E::SourceCount{2}},
         R"(a column takes exactly one of "element", "group_element" or "segment_index"; )"
         "found 2"},
        {{E::ComponentOnIndex{}}, R"("component" does not apply to "segment_index")"},
    };
    expect_texts(cases, 21);
}

TEST(SpecError, VersionReasons) {
    using E = VersionError;
    const std::vector<Case<VersionError>> cases = {
        {{E::ZeroElement{}}, R"("element" is 0; positions are 1-based)"},
        {{E::NoValues{}}, R"("values" is empty; list at least one value the element may hold)"},
        {{E::EmptyValue{2}}, R"("values[2]" is empty)"},
        {{E::DuplicateValue{"005010X221A1", 0, 3}},
         R"(value "005010X221A1" is listed twice, at values[0] and values[3])"},
    };
    expect_texts(cases, 4);
}

// The debug form names the variant, then each field by name with its value, in declared
// order; a nested error shows its own the same way, and Json its one field without a name.
TEST(SpecError, DebugFormNamesTheVariantAndItsFieldsInOrder) {
    using E = SpecError;
    struct DebugCase {
        SpecError error;
        std::vector<std::string> parts;  // each found after the one before
    };
    const std::vector<DebugCase> cases = {
        {{E::Json{"bad \"x\""}}, {"Json", R"("bad \"x\"")"}},
        {{E::Schema{"x", ReaderError{"missing field `y`"}}},
         {"Schema", "loop_name", R"("x")", "source", R"("missing field `y`")"}},
        {patch(E{E::Cycle{{"A", "B"}}}),
         {"Patch", "source", "Cycle", "members", R"("A")", R"("B")"}},
        {{E::BadElementDef{"CLP", "2",
                           ElementDefError{ElementDefError::CodeLength{"AB", 7, 2, nullopt, 1}}}},
         {"BadElementDef", "segment", R"("CLP")", "position", R"("2")", "reason", "CodeLength",
          "code", R"("AB")", "index", "7", "length", "2", "min", "max", "1"}},
        {{E::BadControl{"2000", ControlError{ControlError::NoEnd{}}}},
         {"BadControl", "loop_name", R"("2000")", "reason", "NoEnd"}},
        {{E::BadTable{"t", "c",
                      TableDefError{TableDefError::UnrelatedAnchors{"a", {"x"}, "b", {}}}}},
         {"BadTable", "table", R"("t")", "column", R"("c")", "reason", "UnrelatedAnchors", "a",
          R"("a")", "chain_a", R"("x")", "b", R"("b")", "chain_b"}},
        {{E::BadVersion{VersionError{VersionError::DuplicateValue{"v", 4, 5}}}},
         {"BadVersion", "reason", "DuplicateValue", "value", R"("v")", "first", "4", "second",
          "5"}},
        {{E::AmbiguousTrigger{"A", "B", "P", "NM1", {{1, "QC"}, {3, "\t"}}}},
         {"AmbiguousTrigger", "first", R"("A")", "second", R"("B")", "parent", R"("P")", "segment",
          R"("NM1")", "conditions", "1", R"("QC")", "3", R"("\t")"}},
    };
    for (const auto& c : cases) {
        const std::string text = c.error.debug();
        std::size_t at = 0;
        for (const std::string& part : c.parts) {
            const std::size_t found = text.find(part, at);
            ASSERT_NE(found, std::string::npos) << part << " after " << at << " in " << text;
            at = found + part.size();
        }
    }
}

}  // namespace
