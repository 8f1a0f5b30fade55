// The projector: element checks with their findings, column values, and the rows of loop- and
// segment-anchored tables, driven by the loop engine over small X12 texts.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/buffer.hpp"
#include "column/types.hpp"
#include "engine/engine.hpp"
#include "project/fill.hpp"
#include "project/projector.hpp"
#include "project/values.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"

namespace {

using namespace remitrax;
using namespace std::literals;

constexpr Delimiters delimiters{'*', ':', '~', '^', std::nullopt};

std::shared_ptr<const Spec> load(std::string_view json) {
    auto spec = Spec::from_json(json);
    if (!spec) {
        throw std::runtime_error(spec.error().to_string());
    }
    return *spec;
}

// A projector fed by a loop engine, one document at a time.
struct Driver {
    explicit Driver(std::shared_ptr<const Spec> loaded)
        : spec(std::move(loaded)), engine(*spec), projector(spec, delimiters) {}

    // Feeds every segment of `text`; the findings' one-line texts, in order.
    std::vector<std::string> feed(std::string_view text) {
        auto document = Document::with_delimiters(Buffer::copy_of(text), delimiters);
        if (!document) {
            throw std::runtime_error(document.error().to_string());
        }
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < document->size(); ++i) {
            const Segment segment = document->segment(i).value();
            for (const Diagnostic& found : projector.on(segment, engine.feed(segment))) {
                EXPECT_EQ(found.level, found.rule.level());
                lines.push_back(found.to_string());
            }
        }
        return lines;
    }
    std::vector<std::string> finish() {
        engine.close_all();
        std::vector<std::string> lines;
        for (const Diagnostic& found : projector.finish()) {
            lines.push_back(found.to_string());
        }
        return lines;
    }
    // Takes the tables and keeps them by name.
    void take() {
        taken.clear();
        for (Table& table : projector.take_tables()) {
            std::string name = table.name();
            taken.emplace(std::move(name), std::move(table));
        }
    }
    const Table& table(std::string_view name) const {
        const auto found = taken.find(std::string(name));
        return found != taken.end() ? found->second : throw std::out_of_range(std::string(name));
    }
    // The rendered rows of a taken table, "∅" for a null.
    std::vector<std::string> rows(std::string_view name) const {
        std::vector<std::string> out;
        const Table& held = table(name);
        for (std::size_t r = 0; r < held.rows(); ++r) {
            out.push_back(held.render_row(r).value());
        }
        return out;
    }
    // One column of a taken table, rendered.
    std::vector<std::string> column(std::string_view name, std::string_view column_name) const {
        std::vector<std::string> out;
        const Table& held = table(name);
        const ColumnData* data = held.column(column_name);
        if (data == nullptr) {
            throw std::out_of_range(std::string(column_name));
        }
        for (std::size_t r = 0; r < held.rows(); ++r) {
            out.push_back(data->render(r).value());
        }
        return out;
    }

    std::shared_ptr<const Spec> spec;
    LoopEngine engine;
    Projector projector;
    std::map<std::string, Table> taken;
};

// ---------------------------------------------------------------------------------------------
// Parsing element text into cells.

TEST(ElementCheckParse, AcceptsExactlyTheTextsOfEachType) {
    struct Case {
        ColumnType type;
        std::string_view text;
        std::optional<Cell> expected;
    };
    const ColumnType n0 = ColumnType::int64(0);
    const ColumnType n2 = ColumnType::int64(2);
    const ColumnType r2 = ColumnType::decimal128(38, 2);
    const Case cases[] = {
        {n0, "+5", std::nullopt},
        {n0, "-12", cell::Int{-12}},
        {n2, "12345", cell::Int{12345}},
        {n0, "-0", cell::Int{0}},
        {n0, "007", cell::Int{7}},
        {n0, "-", std::nullopt},
        {n0, " 1", std::nullopt},
        {n0, "1 ", std::nullopt},
        {n0, "1.0", std::nullopt},
        {n0, "--1", std::nullopt},
        {n0, "9223372036854775807", cell::Int{9223372036854775807}},
        {n0, "9223372036854775808", std::nullopt},
        {n0, "-9223372036854775808", cell::Int{-9223372036854775807 - 1}},
        {n0, "-9223372036854775809", std::nullopt},
        {n0, "99999999999999999999", std::nullopt},
        {r2, "-1.50", cell::Decimal{-150}},
        {r2, "1234.5", cell::Decimal{123450}},
        {r2, "1.234", std::nullopt},
        {r2, "+1", std::nullopt},
        {ColumnType::date32(), "20240229", cell::Date{19782}},
        {ColumnType::date32(), "20230229", std::nullopt},
        {ColumnType::date32(), "19700101", cell::Date{0}},
        {ColumnType::date32(), "691231", cell::Date{-1}},
        {ColumnType::date32(), "19691231", cell::Date{-1}},
        {ColumnType::time32(), "1230", cell::Time{45000}},
        {ColumnType::time32(), "2400", std::nullopt},
        {ColumnType::binary(), "HC:99213", cell::Bytes{"HC:99213"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(value::parse(c.type, c.text), c.expected);
    }
}

TEST(ElementCheckParse, LengthCountsDigitsOfNumbersAndBytesOfTheRest) {
    struct Case {
        ElementType type;
        std::string_view text;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {{ElementKind::N, 0}, "-12", 2},       {{ElementKind::R, 2}, "-1.50", 3},
        {{ElementKind::R, 2}, "1234.5", 5},    {{ElementKind::N, 2}, "+5", 1},
        {{ElementKind::AN, 0}, "-1.50", 5},    {{ElementKind::ID, 0}, "HC:99213", 8},
        {{ElementKind::DT, 0}, "20240229", 8}, {{ElementKind::TM, 0}, "1230", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(value::length(c.type, c.text), c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// The checks of a placed segment and what the columns receive.

constexpr std::string_view checks_spec = R"({
  "name": "checks",
  "loops": {
    "top": {"trigger": {"segment": "ST"}, "segments": ["XX"]},
    "side": {"parent": "top", "trigger": {"segment": "SD"}, "segments": ["YY"]}},
  "segments": {
    "XX": {"elements": {
      "1": {"name": "count", "type": "N0"},
      "2": {"name": "amount", "type": "R", "max": 3},
      "3": {"name": "kind", "type": "ID", "codes": ["A", "B"]},
      "4": {"name": "day", "type": "DT"},
      "5": {"name": "procedure", "type": "AN", "required": true, "composite": {
        "1": {"name": "qualifier", "type": "ID", "required": true, "codes": ["HC"]},
        "2": {"name": "code", "type": "AN", "required": true}}},
      "6": {"name": "note", "type": "AN", "max": 6},
      "7": {"name": "id", "type": "AN", "required": true, "min": 2},
      "8": {"name": "total", "type": "R", "scale": 1, "min": 1, "max": 4}}},
    "YY": {"elements": {"1": {"name": "flag", "type": "ID", "required": true}}}},
  "tables": {"rows": {"loops": ["top"], "ref": "r", "columns": {
    "amount": {"segment": "XX", "element": 2},
    "code": {"segment": "XX", "element": 5, "component": 2},
    "count": {"segment": "XX", "element": 1},
    "day": {"segment": "XX", "element": 4},
    "extra": {"segment": "XX", "element": 9},
    "kind": {"segment": "XX", "element": 3},
    "note": {"segment": "XX", "element": 6},
    "note_1": {"segment": "XX", "element": 6, "component": 1},
    "note_2": {"segment": "XX", "element": 6, "component": 2},
    "qualifier": {"segment": "XX", "element": 5, "component": 1},
    "total": {"segment": "XX", "element": 8}}}}
})";

struct CheckCase {
    std::string_view name;
    // The elements of XX; "ST*1~" comes first, so XX is segment #1.
    std::string_view elements;
    std::vector<std::string> findings;
    std::map<std::string, std::string> cells;
};

// What follows the place in every finding of these cases.
const std::string tail = " · at top#1 · datum ";

void run_check_cases(const std::vector<CheckCase>& cases) {
    const auto spec = load(checks_spec);
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        Driver driver(spec);
        const std::string text = "ST*1~XX*" + std::string(c.elements) + "~";
        EXPECT_EQ(driver.feed(text), c.findings);
        EXPECT_TRUE(driver.finish().empty());
        driver.take();
        for (const auto& [column, expected] : c.cells) {
            EXPECT_EQ(driver.column("rows", column), std::vector<std::string>{expected}) << column;
        }
    }
}

constexpr std::string_view valid = "1*1.5*A*20240101*HC:1*AB*ID*1.5";

TEST(ElementCheckFindings, TypeLengthAndCodeFindingsWithTheValueKeptOrNulled) {
    using S = std::string;
    run_check_cases({
        {"valid", valid, {}, {{"count", "1"}, {"amount", "1.50"}, {"kind", "A"}, {"total", "1.5"}}},
        {"plus sign",
         "+5*1.5*A*20240101*HC:1*AB*ID",
         {"SNIP 2 · element XX01 (count) is not a valid N0 (integer with 0 implied decimals)"
          " · segment #1, element 1" +
          tail + "\"+5\""},
         {{"count", "∅"}}},
        {"minus sign", "-12*1.5*A*20240101*HC:1*AB*ID", {}, {{"count", "-12"}}},
        {"digits of a decimal", "1*-1.50*A*20240101*HC:1*AB*ID", {}, {{"amount", "-1.50"}}},
        {"too many digits",
         "1*1.5*A*20240101*HC:1*AB*ID*1234.5",
         {S("SNIP 2 · element XX08 (total) has length 5; the spec allows 1 to 4") +
          " · segment #1, element 8" + tail + "\"1234.5\""},
         {{"total", "1234.5"}}},
        // Signs and points are not digits: only the digits count against the bounds.
        {"signed digits within bounds",
         "1*1.5*A*20240101*HC:1*AB*ID*-123.4",
         {},
         {{"total", "-123.4"}}},
        {"signed digits too many",
         "1*1.5*A*20240101*HC:1*AB*ID*-12345",
         {S("SNIP 2 · element XX08 (total) has length 5; the spec allows 1 to 4") +
          " · segment #1, element 8" + tail + "\"-12345\""},
         {{"total", "-12345.0"}}},
        {"code not listed",
         "1*1.5*C*20240101*HC:1*AB*ID",
         {S("SNIP 2 · element XX03 (kind) is not one of the 2 codes the spec lists for it "
            "(\"A\", \"B\") · segment #1, element 3") +
          tail + "\"C\""},
         {{"kind", "C"}}},
        {"leap day", "1*1.5*A*20240229*HC:1*AB*ID", {}, {{"day", "2024-02-29"}}},
        {"no leap day",
         "1*1.5*A*20230229*HC:1*AB*ID",
         {S("SNIP 2 · element XX04 (day) is not a valid DT (date CCYYMMDD or YYMMDD)") +
          " · segment #1, element 4" + tail + "\"20230229\""},
         {{"day", "∅"}}},
        // A type failure ends the checks of the value: no length or code finding follows.
        {"type before length",
         "1*12345.678*A*20240101*HC:1*AB*ID",
         {S("SNIP 2 · element XX02 (amount) is not a valid R (decimal, scale 2)") +
          " · segment #1, element 2" + tail + "\"12345.678\""},
         {{"amount", "∅"}}},
    });
}

TEST(ElementCheckFindings, EmptyValuesAreMissingOnlyWhenRequired) {
    using S = std::string;
    run_check_cases({
        {"optional empty", "****HC:1**ID", {}, {{"count", "∅"}, {"note", "∅"}}},
        {"required empty",
         "1*1.5*A*20240101*HC:1*AB",
         {S("SNIP 2 · required element XX07 (id) is missing or empty · segment #1, element 7") +
          tail + "\"\""},
         {}},
        {"required short",
         "1*1.5*A*20240101*HC:1*AB*I",
         {S("SNIP 2 · element XX07 (id) has length 1; the spec allows at least 2") +
          " · segment #1, element 7" + tail + "\"I\""},
         {}},
    });
}

TEST(ElementCheckFindings, CompositesAreCheckedComponentByComponent) {
    using S = std::string;
    const S shape = "SNIP 2 · element XX05 (procedure) has 3 components; the spec declares 2";
    const S missing = "SNIP 2 · required element XX05 (procedure) is missing or empty";
    run_check_cases({
        {"one extra component",
         "1*1.5*A*20240101*HC:99213:X*AB*ID",
         {shape + " · segment #1, element 5, component 3" + tail + "\"X\""},
         {{"qualifier", "HC"}, {"code", "99213"}}},
        // The shape comes first, then the components in ascending position.
        {"extra component and a bad code",
         "1*1.5*A*20240101*ZZ::X*AB*ID",
         {shape + " · segment #1, element 5, component 3" + tail + "\"X\"",
          "SNIP 2 · element XX05-1 (qualifier) is not the one code the spec lists for it "
          "(\"HC\") · segment #1, element 5, component 1" +
              tail + "\"ZZ\"",
          "SNIP 2 · required element XX05-2 (code) is missing or empty"
          " · segment #1, element 5, component 2" +
              tail + "\"\""},
         {{"qualifier", "ZZ"}, {"code", "∅"}}},
        {"absent",
         "1*1.5*A*20240101**AB*ID",
         {missing + " · segment #1, element 5" + tail + "\"\""},
         {{"qualifier", "∅"}}},
        {"every component empty",
         "1*1.5*A*20240101*::*AB*ID",
         {missing + " · segment #1, element 5" + tail + "\"\""},
         {{"qualifier", "∅"}}},
        {"past the last element",
         "1",
         {missing + " · segment #1, element 5" + tail + "\"\"",
          "SNIP 2 · required element XX07 (id) is missing or empty · segment #1, element 7" + tail +
              "\"\""},
         {}},
        // A simple value is component 1; component 2 is then empty.
        {"simple value",
         "1*1.5*A*20240101*HC*AB*ID",
         {"SNIP 2 · required element XX05-2 (code) is missing or empty"
          " · segment #1, element 5, component 2" +
          tail + "\"\""},
         {{"qualifier", "HC"}, {"code", "∅"}}},
    });
}

TEST(ElementCheckFindings, SimpleDefinitionsAndUndefinedElementsReadTheWholeText) {
    using S = std::string;
    run_check_cases({
        // The note definition is simple: composite data is checked and read joined.
        {"composite under a simple definition",
         "1*1.5*A*20240101*HC:1*HC:99213*ID",
         {S("SNIP 2 · element XX06 (note) has length 8; the spec allows at most 6") +
          " · segment #1, element 6" + tail + "\"HC:99213\""},
         {{"note", "HC:99213"}, {"note_1", "HC"}, {"note_2", "99213"}}},
        {"components of a simple value",
         "1*1.5*A*20240101*HC:1*AB*ID",
         {},
         {{"note", "AB"}, {"note_1", "AB"}, {"note_2", "∅"}}},
        {"undefined element", "1*1.5*A*20240101*HC:1*AB*ID*1*+5", {}, {{"extra", "+5"}}},
    });
}

TEST(ElementCheckFindings, SegmentsOutsideAnyTableRowAreStillChecked) {
    const auto spec = load(checks_spec);
    Driver driver(spec);
    // Outside its loop YY is unplaced and not checked; in "side", which anchors no table, it is.
    EXPECT_TRUE(driver.feed("YY~").empty());
    EXPECT_EQ(driver.feed("ST~SD~YY~"),
              std::vector<std::string>{"SNIP 2 · required element YY01 (flag) is missing or empty "
                                       "· segment #2, element 1 · at top#1/side#1 · datum \"\""});
}

// ---------------------------------------------------------------------------------------------
// Loop-anchored and segment-anchored rows over the built-in spec.

constexpr std::string_view head =
    "ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       *240101*1200*^*00501"
    "*000000001*0*P*:~"
    "GS*HP*SENDER*RECEIVER*20240101*1200*1*X*005010X221A1~";

std::string transaction(std::string_view body) {
    return "ST*835*0001~BPR*I*100*C*ACH*CCP~TRN*1*12345*1512345678~N1*PR*PAYER~"
           "N1*PE*PAYEE*XX*1234567893~" +
           std::string(body) + "SE*1*0001~";
}

std::string interchange(std::string_view transactions) {
    return std::string(head) + std::string(transactions) + "GE*1*1~IEA*1*000000001~";
}

TEST(ProjectorRows, ChildRowsCarryTheNumbersOfTheRowsOpenAbove) {
    Driver driver(Spec::builtin_835());
    driver.feed(interchange(transaction("LX*1~CLP*A*1*10*5**12*P1~SVC*HC:1*10*5~") +
                            transaction("LX*1~CLP*B*1*10*5**12*P2~CLP*C*1*10*5**12*P3~"
                                        "SVC*HC:2*10*5~SVC*HC:3*10*5~")));
    driver.finish();
    driver.take();
    EXPECT_EQ(driver.column("payments", "row"), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(driver.column("payments", "segment"), (std::vector<std::string>{"2", "11"}));
    EXPECT_EQ(driver.column("claims", "claim_id"), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(driver.column("claims", "payment"), (std::vector<std::string>{"0", "1", "1"}));
    EXPECT_EQ(driver.column("claims", "segment"), (std::vector<std::string>{"8", "17", "18"}));
    EXPECT_EQ(driver.column("services", "procedure_code"),
              (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(driver.column("services", "claim"), (std::vector<std::string>{"0", "2", "2"}));
    EXPECT_EQ(driver.column("services", "payment"), (std::vector<std::string>{"0", "1", "1"}));
}

TEST(ProjectorRows, AdjustmentsReferToTheClaimAndToTheServiceWhenOneIsOpen) {
    Driver driver(Spec::builtin_835());
    driver.feed(interchange(
        transaction("LX*1~CLP*A*1*10*5**12*P1~CAS*CO*45*20~SVC*HC:1*10*5~CAS*PR*1*2*1*2*3~")));
    driver.finish();
    driver.take();
    // row | segment | payment | claim | service | amount | group_code | quantity | reason_code
    EXPECT_EQ(driver.rows("adjustments"), (std::vector<std::string>{
                                              "0 | 9 | 0 | 0 | ∅ | 20.00 | CO | ∅ | 45",
                                              "1 | 11 | 0 | 0 | 0 | 2.00 | PR | 1.00 | 1",
                                              "2 | 11 | 0 | 0 | 0 | 3.00 | PR | ∅ | 2",
                                          }));
}

TEST(ProjectorRows, TheFirstMatchingSegmentOfAnInstanceWins) {
    Driver driver(Spec::builtin_835());
    const auto findings = driver.feed(interchange(transaction(
        "LX*1~CLP*A*1*10*5**12*P1~NM1*QC*1*DOE*JOHN****MI*M1~NM1*QC*1*ROE*JANE****MI*M2~"
        "NM1*QC:X*1*COMPOSITE~NM1*82*1*SMITH~"
        "CLP*B*1*10*5**12*P2~NM1*QC:X*1*COMPOSITE~NM1*QC*1*ROE*JANE****MI*M2~")));
    driver.finish();
    driver.take();
    EXPECT_EQ(driver.column("claims", "patient_last_name"),
              (std::vector<std::string>{"DOE", "ROE"}));
    EXPECT_EQ(driver.column("claims", "patient_id"), (std::vector<std::string>{"M1", "M2"}));
    EXPECT_EQ(driver.column("claims", "rendering_provider_name"),
              (std::vector<std::string>{"SMITH", "∅"}));
    // Of the NM1 segments only the two composite NM101s are findings: the ignored second
    // NM1*QC is none.
    std::vector<std::string> nm1;
    for (const std::string& line : findings) {
        if (line.find(" NM1") != std::string::npos) {
            nm1.push_back(line);
        }
    }
    ASSERT_EQ(nm1.size(), 2U);
    for (const std::string& line : nm1) {
        EXPECT_NE(line.find("element NM101 (entity_identifier_code) has length 4; the spec "
                            "allows 2 to 3"),
                  std::string::npos)
            << line;
        EXPECT_NE(line.find("· datum \"QC:X\""), std::string::npos) << line;
    }
}

TEST(ProjectorRows, RepeatGroupsSkipEmptyGroupsAndStopAtTheData) {
    Driver driver(Spec::builtin_835());
    driver.feed(
        interchange(transaction("PLB*P1*20240131*WO:X1*10***L6*5~PLB*P2*20240131*:*1*CS*-2~"
                                "LX*1~CLP*A*1*10*5**12*P1~CAS*CO*45~CAS*OA~")));
    driver.finish();
    driver.take();
    // row | segment | payment | amount | fiscal_period_date | provider_id | reason_code |
    // reference_id
    EXPECT_EQ(driver.rows("provider_adjustments"),
              (std::vector<std::string>{
                  "0 | 7 | 0 | 10.00 | 2024-01-31 | P1 | WO | X1",
                  "1 | 7 | 0 | 5.00 | 2024-01-31 | P1 | L6 | ∅",
                  "2 | 8 | 0 | -2.00 | 2024-01-31 | P2 | CS | ∅",
              }));
    // CAS with three elements gives one row; one with no group gives none.
    EXPECT_EQ(driver.rows("adjustments"),
              (std::vector<std::string>{"0 | 11 | 0 | 0 | ∅ | ∅ | CO | ∅ | 45"}));
}

TEST(ProjectorRows, RepeatGroupsReadOnlyTheElementsTheSpecDefines) {
    // Elements defined far out, even at the last 64-bit position, cost nothing per position
    // in between; groups read them like any other element.
    const auto spec = Spec::builtin_835()->merge_patch(
        R"({"segments":{"CAS":{"elements":{"100000000":{"name":"far","type":"R"},)"
        R"("18446744073709551615":{"name":"last","type":"AN"}}}}})");
    ASSERT_TRUE(spec.has_value()) << spec.error().to_string();
    Driver driver(*spec);
    for (const std::string& finding :
         driver.feed(interchange(transaction("LX*1~CLP*A*1*10*5**12*P1~CAS*CO*45*1.5*2~")))) {
        EXPECT_EQ(finding.find("CAS"), std::string::npos) << finding;
    }
    driver.finish();
    driver.take();
    EXPECT_EQ(driver.rows("adjustments"),
              (std::vector<std::string>{"0 | 9 | 0 | 0 | ∅ | 1.50 | CO | 2.00 | 45"}));
}

TEST(ProjectorRows, RowNumbersRunOnAcrossTakesAndRestartAfterFinish) {
    Driver driver(Spec::builtin_835());
    // The transaction and claim B stay open: their rows wait for their loops to close.
    const std::string first = std::string(head) +
                              "ST*835*0001~BPR*I*100~LX*1~CLP*A*1*10*5**12*P1~"
                              "CLP*B*1*10*5**12*P1~";
    driver.feed(first);
    driver.take();
    EXPECT_EQ(driver.column("claims", "row"), std::vector<std::string>{"0"});
    EXPECT_EQ(driver.table("payments").rows(), 0U);
    driver.feed(transaction("LX*1~CLP*C*1*10*5**12*P1~"));
    driver.take();
    EXPECT_EQ(driver.column("claims", "row"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(driver.column("claims", "claim_id"), (std::vector<std::string>{"B", "C"}));
    EXPECT_EQ(driver.column("claims", "payment"), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(driver.column("payments", "row"), (std::vector<std::string>{"0", "1"}));
    driver.finish();
    driver.take();
    EXPECT_EQ(driver.table("claims").rows(), 0U);
    driver.feed(first);
    driver.finish();
    driver.take();
    EXPECT_EQ(driver.column("claims", "row"), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(driver.column("claims", "payment"), (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(driver.column("payments", "row"), std::vector<std::string>{"0"});
}

TEST(ProjectorRows, FinishAppendsTheRowsOfLoopsStillOpen) {
    Driver driver(Spec::builtin_835());
    driver.feed(std::string(head) +
                "ST*835*0001~BPR*I*100~LX*1~CLP*A*1*10*5**12*P1~SVC*HC:1*10*5~DTM*472*20240102~");
    driver.take();
    EXPECT_EQ(driver.table("payments").rows(), 0U);
    EXPECT_EQ(driver.table("services").rows(), 0U);
    EXPECT_TRUE(driver.finish().empty());
    driver.take();
    EXPECT_EQ(driver.column("payments", "total_payment_amount"),
              std::vector<std::string>{"100.00"});
    EXPECT_EQ(driver.column("claims", "claim_id"), std::vector<std::string>{"A"});
    EXPECT_EQ(driver.column("services", "service_date"), std::vector<std::string>{"2024-01-02"});
    EXPECT_EQ(driver.column("services", "claim"), std::vector<std::string>{"0"});
}

TEST(ProjectorRows, ImplicitlyOpenedLoopsStartTheirRows) {
    Driver driver(Spec::builtin_835());
    // No LX: the engine opens 2000 to hold the CLP.
    driver.feed(interchange(transaction("CLP*A*1*10*5**12*P1~")));
    driver.finish();
    driver.take();
    EXPECT_EQ(driver.rows("claims").size(), 1U);
    EXPECT_EQ(driver.column("claims", "payment"), std::vector<std::string>{"0"});
    EXPECT_EQ(driver.column("claims", "segment"), std::vector<std::string>{"7"});
}

// ---------------------------------------------------------------------------------------------
// Conditions, segment indexes and tables without columns, over a small spec.

constexpr std::string_view rows_spec = R"({
  "name": "rows",
  "loops": {
    "top": {"trigger": {"segment": "ST"}, "segments": ["REF", "DTM"]},
    "item": {"parent": "top", "trigger": {"segment": "IT"}, "segments": ["REF"]}},
  "segments": {"REF": {"elements": {"1": {"name": "qualifier", "type": "ID"}}}},
  "tables": {
    "tops": {"loops": ["top"], "ref": "top", "columns": {
      "dtm_at": {"segment": "DTM", "segment_index": true},
      "ev": {"segment": "REF", "where": {"1": "EV"}, "element": 2},
      "ev_at": {"segment": "REF", "where": {"1": "EV"}, "segment_index": true},
      "ev_item": {"loop": "item", "segment": "REF", "where": {"1": "EV", "3": "Z"},
                  "element": 2}}},
    "items": {"loops": ["item"], "ref": "item", "columns": {}}}
})";

TEST(ProjectorRows, ConditionsCompareSimpleValuesByteForByte) {
    Driver driver(load(rows_spec));
    driver.feed(
        "ST~REF*EV:1*composite~REF*ev*case~REF*EV*two~REF*EV*late~DTM~"
        "IT~REF*EV*no third~REF*EV*x*Z:1~REF*EV*item*Z~IT~"
        "ST~IT~REF*EV*item two*Z~");
    driver.finish();
    driver.take();
    EXPECT_EQ(driver.rows("tops"), (std::vector<std::string>{
                                       "0 | 0 | 5 | two | 3 | item",
                                       "1 | 11 | ∅ | ∅ | ∅ | item two",
                                   }));
    // A table without spec columns still has a row per instance.
    EXPECT_EQ(driver.rows("items"), (std::vector<std::string>{
                                        "0 | 6 | 0",
                                        "1 | 10 | 0",
                                        "2 | 12 | 1",
                                    }));
}

// Columns of two tables that read the same segment under the same conditions: the conditions
// are tested for each column whose row can still take a value, even when the column before was
// passed over because its value was already settled.
TEST(ProjectorRows, EqualConditionsOfNeighbouringColumnsAgreeWithTestingEachOne) {
    Driver driver(load(R"({
      "name": "shared",
      "loops": {
        "top": {"trigger": {"segment": "ST"}, "segments": []},
        "item": {"parent": "top", "trigger": {"segment": "IT"}, "segments": ["REF"]}},
      "segments": {},
      "tables": {
        "firsts": {"loops": ["top"], "ref": "top", "columns": {
          "ev": {"loop": "item", "segment": "REF", "where": {"1": "EV"}, "element": 2}}},
        "items": {"loops": ["item"], "ref": "item", "columns": {
          "ev": {"segment": "REF", "where": {"1": "EV"}, "element": 2},
          "xx": {"segment": "REF", "where": {"1": "XX"}, "element": 2}}}}
    })"));
    driver.feed("ST~IT~REF*EV*a~IT~REF*XX*b~REF*EV*c~IT~REF*XX*d~");
    driver.finish();
    driver.take();
    EXPECT_EQ(driver.column("firsts", "ev"), std::vector<std::string>{"a"});
    EXPECT_EQ(driver.column("items", "ev"), (std::vector<std::string>{"a", "c", "∅"}));
    EXPECT_EQ(driver.column("items", "xx"), (std::vector<std::string>{"∅", "b", "d"}));
}

// ---------------------------------------------------------------------------------------------
// The values a column reads.

TEST(FillLeafText, ElementsAndComponentsWithAbsentOnesEmpty) {
    const std::string text = "XX*A*B:C:*:*~";
    auto document = Document::with_delimiters(Buffer::copy_of(text), delimiters).value();
    const Segment segment = document.segment(0).value();
    struct Case {
        std::uint64_t element;
        std::optional<std::uint64_t> component;
        std::string_view expected;
    };
    const Case cases[] = {
        {0, std::nullopt, ""},
        {1, std::nullopt, "A"},
        {1, 1, "A"},
        {1, 2, ""},
        {2, std::nullopt, "B:C:"},
        {2, 1, "B"},
        {2, 2, "C"},
        {2, 3, ""},
        {2, 4, ""},
        {2, 0, ""},
        {3, std::nullopt, ":"},
        {4, std::nullopt, ""},
        {5, std::nullopt, ""},
        {5, 1, ""},
    };
    std::string scratch = "left over";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.element) + "-" + std::to_string(c.component.value_or(0)));
        EXPECT_EQ(value::leaf_text(segment, c.element, c.component, ':', scratch), c.expected);
    }
}

TEST(FillAppend, RowsBecomeCellsInSchemaOrder) {
    const ColumnSchema schema[] = {
        {"row", ColumnType::int64(0)},    {"segment", ColumnType::int64(0)},
        {"parent", ColumnType::int64(0)}, {"text", ColumnType::binary()},
        {"unset", ColumnType::binary()},  {"day", ColumnType::date32()}};
    Table table("t", schema);
    Row row;
    row.parents = {std::nullopt};
    row.text = "abcdef";
    row.cells = {pending::TextRange{2, 4}, pending::Unset{}, cell::Date{1}};
    row.number = 7;
    row.segment = 0x8000'0000'0000'0000U;  // past the signed range: null
    EXPECT_TRUE(fill::append(row, table).empty());
    EXPECT_EQ(table.render_row(0), "7 | ∅ | ∅ | cd | ∅ | 1970-01-02");
}

}  // namespace
