// Element definitions: canonical positions, types, the refusals of unsound definitions and the
// order in which they are checked.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spec/elements.hpp"
#include "spec/records.hpp"

namespace {

using remitrax::compile_elements;
using remitrax::ElementKind;
using remitrax::ElementType;
using remitrax::parse_position;
using remitrax::SegmentDef;
using remitrax::SpecError;

// Compiles the elements map written as JSON for segment CLP.
std::expected<SegmentDef, SpecError> compile(std::string_view elements) {
    const auto document = nlohmann::json::parse(elements);
    auto raw = remitrax::read_segment(nlohmann::json{{"elements", document}});
    EXPECT_TRUE(raw.has_value()) << elements;
    if (!raw) {
        return std::unexpected(SpecError{SpecError::Json{raw.error().message}});
    }
    return compile_elements("CLP", raw->elements);
}

TEST(Elements, ParsePositionAcceptsOnlyCanonicalForm) {
    const struct {
        std::string_view text;
        std::optional<std::uint64_t> position;
    } cases[] = {
        {"1", 1},
        {"12", 12},
        {"9", 9},
        {"10", 10},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"0", std::nullopt},
        {"00", std::nullopt},
        {"01", std::nullopt},
        {"+1", std::nullopt},
        {"-1", std::nullopt},
        {"+", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1.0", std::nullopt},
        {"1e2", std::nullopt},
        {"0x1", std::nullopt},
        {"\xd9\xa1", std::nullopt},  // ARABIC-INDIC DIGIT ONE
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_position(c.text), c.position) << c.text;
    }
}

TEST(Elements, TypeTextForms) {
    const struct {
        ElementType type;
        std::string_view text;
    } cases[] = {
        {{ElementKind::AN, 0}, "AN (string)"},
        {{ElementKind::ID, 0}, "ID (code)"},
        {{ElementKind::N, 0}, "N0 (integer with 0 implied decimals)"},
        {{ElementKind::N, 2}, "N2 (integer with 2 implied decimals)"},
        {{ElementKind::N, 9}, "N9 (integer with 9 implied decimals)"},
        {{ElementKind::R, 2}, "R (decimal, scale 2)"},
        {{ElementKind::R, 18}, "R (decimal, scale 18)"},
        {{ElementKind::DT, 0}, "DT (date CCYYMMDD or YYMMDD)"},
        {{ElementKind::TM, 0}, "TM (time HHMM, HHMMSS or HHMMSSD..)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.type.to_string(), c.text);
    }
}

TEST(Elements, TypesCompileFromTheirSpecText) {
    const struct {
        std::string_view element;
        ElementType type;
    } cases[] = {
        {R"({"name": "a", "type": "AN"})", {ElementKind::AN, 0}},
        {R"({"name": "a", "type": "ID"})", {ElementKind::ID, 0}},
        {R"({"name": "a", "type": "DT"})", {ElementKind::DT, 0}},
        {R"({"name": "a", "type": "TM"})", {ElementKind::TM, 0}},
        {R"({"name": "a", "type": "N0"})", {ElementKind::N, 0}},
        {R"({"name": "a", "type": "N7"})", {ElementKind::N, 7}},
        {R"({"name": "a", "type": "R"})", {ElementKind::R, 2}},
        {R"({"name": "a", "type": "R", "scale": 0})", {ElementKind::R, 0}},
        {R"({"name": "a", "type": "R", "scale": 18})", {ElementKind::R, 18}},
        {R"({"name": "a", "type": "R", "scale": null})", {ElementKind::R, 2}},
    };
    for (const auto& c : cases) {
        const auto def = compile(std::string(R"({"4": )") + std::string(c.element) + "}");
        ASSERT_TRUE(def.has_value()) << c.element << ": " << def.error().to_string();
        EXPECT_EQ(def->at(4).type, c.type) << c.element;
    }
}

TEST(Elements, RefusalsAndTheirTexts) {
    const struct {
        std::string_view elements;
        std::string_view message;
    } cases[] = {
        {R"({"01": {"name": "a", "type": "AN"}})",
         R"(segment "CLP" element "01": positions are 1-based integers written in canonical form)"},
        {R"({"0": {"name": "a", "type": "AN"}})",
         R"(segment "CLP" element "0": positions are 1-based integers written in canonical form)"},
        {R"({"1": {"name": "", "type": "AN"}})", R"(segment "CLP" element "1": "name" is empty)"},
        {R"({"1": {"name": "amount", "type": "R"}, "3": {"name": "amount", "type": "R"}})",
         R"(segment "CLP" element "3": name "amount" is already used by position "1")"},
        {R"({"1": {"name": "a", "type": "n2"}})",
         R"(segment "CLP" element "1": type "n2" is not one of AN, ID, N0 to N9, R, DT, TM)"},
        {R"({"1": {"name": "a", "type": "N"}})",
         R"(segment "CLP" element "1": type "N" is not one of AN, ID, N0 to N9, R, DT, TM)"},
        {R"({"1": {"name": "a", "type": "N10"}})",
         R"(segment "CLP" element "1": type "N10" is not one of AN, ID, N0 to N9, R, DT, TM)"},
        {R"({"1": {"name": "a", "type": ""}})",
         R"(segment "CLP" element "1": type "" is not one of AN, ID, N0 to N9, R, DT, TM)"},
        {R"({"1": {"name": "a", "type": "an"}})",
         R"(segment "CLP" element "1": type "an" is not one of AN, ID, N0 to N9, R, DT, TM)"},
        {R"({"1": {"name": "a", "type": "N2", "scale": 2}})",
         R"(segment "CLP" element "1": "scale" applies only to type R; found type "N2")"},
        {R"({"1": {"name": "a", "type": "AN", "scale": 0}})",
         R"(segment "CLP" element "1": "scale" applies only to type R; found type "AN")"},
        {R"({"1": {"name": "a", "type": "R", "scale": 19}})",
         R"(segment "CLP" element "1": "scale" 19 is above the maximum of 18)"},
        {R"({"1": {"name": "a", "type": "R", "scale": 255}})",
         R"(segment "CLP" element "1": "scale" 255 is above the maximum of 18)"},
        {R"({"1": {"name": "a", "type": "AN", "min": 3, "max": 2}})",
         R"(segment "CLP" element "1": "min" 3 is greater than "max" 2)"},
        {R"({"1": {"name": "a", "type": "AN", "max": 0}})",
         R"(segment "CLP" element "1": "max" is 0; an element holds at least one character)"},
        {R"({"1": {"name": "a", "type": "ID", "codes": []}})",
         R"(segment "CLP" element "1": "codes" is empty; leave the key out to accept any value)"},
        {R"({"1": {"name": "a", "type": "ID", "codes": ["A", ""]}})",
         R"(segment "CLP" element "1": the code at codes[1] is empty)"},
        {R"({"1": {"name": "a", "type": "ID", "codes": ["A", "B", "A"]}})",
         R"(segment "CLP" element "1": code "A" is listed twice, at codes[0] and codes[2])"},
        {R"({"1": {"name": "a", "type": "ID", "max": 1, "codes": ["AB"]}})",
         R"(segment "CLP" element "1": code "AB" at codes[0] has length 2; the element allows at most 1)"},
        {R"({"1": {"name": "a", "type": "ID", "min": 2, "codes": ["AB", "C"]}})",
         R"(segment "CLP" element "1": code "C" at codes[1] has length 1; the element allows at least 2)"},
        {R"({"1": {"name": "a", "type": "ID", "min": 2, "max": 3, "codes": ["ABCD"]}})",
         R"(segment "CLP" element "1": code "ABCD" at codes[0] has length 4; the element allows 2 to 3)"},
        {R"({"1": {"name": "a", "type": "N0", "codes": ["1"]}})",
         R"(segment "CLP" element "1": "codes" applies to non-numeric types; type "N0" holds numbers, which one value can write several ways (1, 01, 1.0))"},
        {R"({"1": {"name": "a", "type": "R", "codes": ["1"]}})",
         R"(segment "CLP" element "1": "codes" applies to non-numeric types; type "R" holds numbers, which one value can write several ways (1, 01, 1.0))"},
        {R"({"1": {"name": "a", "type": "ID", "codes": ["A"],
                   "composite": {"1": {"name": "b", "type": "AN"}}}})",
         R"(segment "CLP" element "1": "codes" applies to a simple element or a component; this element declares a "composite")"},
        {R"({"1": {"name": "a", "type": "ID", "composite": {"1": {"name": "b", "type": "AN"}}}})",
         R"(segment "CLP" element "1": "composite" requires type AN; found type "ID")"},
        {R"({"1": {"name": "a", "type": "AN", "composite": {"2": {"name": "b", "type": "AN",
                   "composite": {"1": {"name": "c", "type": "AN"}}}}}})",
         R"(segment "CLP" element "1.composite.2": a component cannot declare its own "composite")"},
        {R"({"1": {"name": "a", "type": "AN", "composite": {"2": {"name": "", "type": "AN"}}}})",
         R"(segment "CLP" element "1.composite.2": "name" is empty)"},
        {R"({"7": {"name": "a", "type": "AN", "composite": {"02": {"name": "b", "type": "AN"}}}})",
         R"(segment "CLP" element "7.composite.02": positions are 1-based integers written in canonical form)"},
        {R"({"1": {"name": "a", "type": "AN", "composite": {
                   "1": {"name": "b", "type": "AN"}, "2": {"name": "b", "type": "ID"}}}})",
         R"(segment "CLP" element "1.composite.2": name "b" is already used by position "1")"},
    };
    for (const auto& c : cases) {
        const auto def = compile(c.elements);
        ASSERT_FALSE(def.has_value()) << c.elements;
        EXPECT_EQ(def.error().to_string(), c.message);
    }
}

TEST(Elements, ChecksRunInTheirOrder) {
    // Each definition has two faults; the one reported is the earlier check's.
    const struct {
        std::string_view elements;
        std::string_view message;
    } cases[] = {
        // Keys are visited as texts: "10" before "2".
        {R"({"1": {"name": "a", "type": "AN"}, "10": {"name": "", "type": "AN"},
             "2": {"name": "", "type": "AN"}})",
         R"(segment "CLP" element "10": "name" is empty)"},
        // Position before name, name before duplicate, duplicate before type.
        {R"({"+1": {"name": "", "type": "X"}})",
         R"(segment "CLP" element "+1": positions are 1-based integers written in canonical form)"},
        {R"({"1": {"name": "", "type": "X"}})", R"(segment "CLP" element "1": "name" is empty)"},
        {R"({"1": {"name": "a", "type": "AN"}, "2": {"name": "a", "type": "X"}})",
         R"(segment "CLP" element "2": name "a" is already used by position "1")"},
        // Type before lengths; zero max before the bounds are compared.
        {R"({"1": {"name": "a", "type": "X", "max": 0}})",
         R"(segment "CLP" element "1": type "X" is not one of AN, ID, N0 to N9, R, DT, TM)"},
        {R"({"1": {"name": "a", "type": "AN", "min": 5, "max": 0}})",
         R"(segment "CLP" element "1": "max" is 0; an element holds at least one character)"},
        // Bounds before codes.
        {R"({"1": {"name": "a", "type": "N2", "min": 3, "max": 2, "codes": []}})",
         R"(segment "CLP" element "1": "min" 3 is greater than "max" 2)"},
        // Composite before numeric before empty.
        {R"({"1": {"name": "a", "type": "R", "codes": [],
                   "composite": {"1": {"name": "b", "type": "AN"}}}})",
         R"(segment "CLP" element "1": "codes" applies to a simple element or a component; this element declares a "composite")"},
        {R"({"1": {"name": "a", "type": "N1", "codes": []}})",
         R"(segment "CLP" element "1": "codes" applies to non-numeric types; type "N1" holds numbers, which one value can write several ways (1, 01, 1.0))"},
        // Codes in list order: an empty code before a later duplicate, a length fault before
        // a later empty code.
        {R"({"1": {"name": "a", "type": "ID", "codes": ["A", "", "A"]}})",
         R"(segment "CLP" element "1": the code at codes[1] is empty)"},
        {R"({"1": {"name": "a", "type": "ID", "max": 1, "codes": ["AB", ""]}})",
         R"(segment "CLP" element "1": code "AB" at codes[0] has length 2; the element allows at most 1)"},
        {R"({"1": {"name": "a", "type": "ID", "max": 1, "codes": ["A", "BC", "A"]}})",
         R"(segment "CLP" element "1": code "BC" at codes[1] has length 2; the element allows at most 1)"},
        // Within a composite: nesting before the element type of the component.
        {R"({"1": {"name": "a", "type": "AN", "composite": {"2": {"name": "b", "type": "ID",
                   "composite": {"1": {"name": "c", "type": "AN"}}}}}})",
         R"(segment "CLP" element "1.composite.2": a component cannot declare its own "composite")"},
        // An element's own faults before its components'.
        {R"({"1": {"name": "a", "type": "AN", "max": 0,
                   "composite": {"01": {"name": "b", "type": "AN"}}}})",
         R"(segment "CLP" element "1": "max" is 0; an element holds at least one character)"},
        // Components are compiled before the next element.
        {R"({"1": {"name": "a", "type": "AN", "composite": {"1": {"name": "", "type": "AN"}}},
             "2": {"name": "", "type": "AN"}})",
         R"(segment "CLP" element "1.composite.1": "name" is empty)"},
    };
    for (const auto& c : cases) {
        const auto def = compile(c.elements);
        ASSERT_FALSE(def.has_value()) << c.elements;
        EXPECT_EQ(def.error().to_string(), c.message);
    }
}

TEST(Elements, RefusalsCarryTheirFields) {
    const auto def = compile(R"({"2": {"name": "a", "type": "ID", "min": 2, "codes": ["X"]}})");
    ASSERT_FALSE(def.has_value());
    const auto* bad = std::get_if<SpecError::BadElementDef>(&def.error().kind);
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->segment, "CLP");
    EXPECT_EQ(bad->position, "2");
    const auto* length = std::get_if<remitrax::ElementDefError::CodeLength>(&bad->reason.kind);
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length->code, "X");
    EXPECT_EQ(length->index, 0u);
    EXPECT_EQ(length->length, 1u);
    EXPECT_EQ(length->min, std::optional<std::uint64_t>(2));
    EXPECT_EQ(length->max, std::nullopt);
}

TEST(Elements, AcceptedDefinitionsKeepTheirValues) {
    const auto def = compile(R"({
        "1": {"name": "status", "type": "ID", "required": true, "min": 1, "max": 2,
              "codes": ["Z", "A", "M", "AB", "B"]},
        "2": {"name": "kind", "type": "ID", "composite": {}},
        "3": {"name": "count", "type": "AN", "min": 0},
        "11": {"name": "procedure", "type": "AN", "composite": {
            "2": {"name": "code", "type": "AN", "codes": ["b", "a"]},
            "1": {"name": "status", "type": "ID"},
            "10": {"name": "kind", "type": "N2"}}}
    })");
    ASSERT_TRUE(def.has_value()) << def.error().to_string();
    std::vector<std::uint64_t> positions;
    for (const auto& [position, element] : *def) {
        positions.push_back(position);
    }
    EXPECT_EQ(positions, (std::vector<std::uint64_t>{1, 2, 3, 11}));

    const auto& status = def->at(1);
    EXPECT_EQ(status.name, "status");
    EXPECT_TRUE(status.required);
    EXPECT_EQ(status.min, std::optional<std::uint64_t>(1));
    EXPECT_EQ(status.max, std::optional<std::uint64_t>(2));
    EXPECT_EQ(status.codes, (std::vector<std::string>{"A", "AB", "B", "M", "Z"}));
    EXPECT_TRUE(status.composite.empty());

    // An empty composite is a simple element, whatever its type.
    EXPECT_TRUE(def->at(2).composite.empty());
    EXPECT_FALSE(def->at(2).required);
    EXPECT_TRUE(def->at(2).codes.empty());
    EXPECT_EQ(def->at(3).min, std::optional<std::uint64_t>(0));
    EXPECT_EQ(def->at(3).max, std::nullopt);

    // Components may share names with elements, and are kept by position.
    const auto& procedure = def->at(11).composite;
    ASSERT_EQ(procedure.size(), 3u);
    EXPECT_EQ(procedure.at(1).name, "status");
    EXPECT_EQ(procedure.at(2).codes, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(procedure.at(10).type, (ElementType{ElementKind::N, 2}));
}

TEST(Elements, CodesSortBytewise) {
    // Bytes compare unsigned, and a prefix comes before the longer code.
    const auto sorted =
        compile(R"({"1": {"name": "a", "type": "AN", "codes": ["\u00e9", "b", "B", "ba", "1"]}})");
    ASSERT_TRUE(sorted.has_value()) << sorted.error().to_string();
    EXPECT_EQ(sorted->at(1).codes, (std::vector<std::string>{"1", "B", "b", "ba", "\xc3\xa9"}));
}

TEST(Elements, LabelsQuoteTheKeyAsWritten) {
    const auto def = compile(R"({"1\"x": {"name": "a", "type": "AN"}})");
    ASSERT_FALSE(def.has_value());
    EXPECT_EQ(def.error().to_string(),
              "segment \"CLP\" element \"1\\\"x\": positions are 1-based integers written in "
              "canonical form");
}

}  // namespace
