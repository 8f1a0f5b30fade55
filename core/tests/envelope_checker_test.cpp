// The SNIP level 1 findings of the envelope checker, as the one-line texts people read.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffer.hpp"
#include "base/fault.hpp"
#include "engine/engine.hpp"
#include "envelope/checker.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"

namespace {

using remitrax::Buffer;
using remitrax::Delimiters;
using remitrax::Diagnostic;
using remitrax::Document;
using remitrax::EnvelopeChecker;
using remitrax::Event;
using remitrax::LoopEngine;
using remitrax::Spec;

const Spec& spec() {
    static const std::shared_ptr<const Spec> builtin = Spec::builtin_835();
    return *builtin;
}

// Every finding of every segment, then those of finish, one line each.
std::vector<std::string> findings(const Document& document, EnvelopeChecker& checker) {
    LoopEngine engine(spec());
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < document.size(); ++i) {
        const std::optional<remitrax::Segment> segment = document.segment(i);
        for (const Diagnostic& diagnostic : checker.on(*segment, engine.feed(*segment))) {
            lines.push_back(diagnostic.to_string());
        }
    }
    for (const Diagnostic& diagnostic : checker.finish()) {
        lines.push_back(diagnostic.to_string());
    }
    return lines;
}

std::vector<std::string> findings(std::string_view text) {
    auto document = Document::parse(Buffer::copy_of(text));
    EXPECT_TRUE(document.has_value()) << text;
    if (!document) {
        return {};
    }
    EnvelopeChecker checker(spec(), document->delimiters());
    return findings(*document, checker);
}

// An input without an interchange header, cut with the usual delimiters.
std::vector<std::string> bare_findings(std::string_view text) {
    auto document = Document::with_delimiters(Buffer::copy_of(text), Delimiters{});
    EXPECT_TRUE(document.has_value());
    if (!document) {
        return {};
    }
    EnvelopeChecker checker(spec(), document->delimiters());
    return findings(*document, checker);
}

// An interchange header with control number 000000001; ISA16 is `component`.
std::string isa(char component = ':') {
    return std::string(
               "ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       "
               "*230101*1200*^*00501*000000001*0*P*") +
           component + "~";
}

const std::string kGs = "GS*HP*S*R*20230101*1200*7*X*005010X221A1~";
const std::string kTail = "GE*1*7~IEA*1*000000001~";

TEST(EnvelopeChecker, ByteOrderMarkOnlyAtTheStartAndBeforeOtherFindings) {
    struct Case {
        std::string text;
        bool bare;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"\xEF\xBB\xBF" + isa() + kGs + "ST*835*0001~SE*2*0001~" + kTail,
         false,
         {"SNIP 1 · the input starts with a UTF-8 byte order mark, kept as leading trivia of the "
          "first segment · segment #0 · at the root · datum \"\\u{feff}\""}},
        // The mark comes before the findings of the segment's own events.
        {"\xEF\xBB\xBFST*835*0001~SE*2*0001~",
         true,
         {"SNIP 1 · the input starts with a UTF-8 byte order mark, kept as leading trivia of the "
          "first segment · segment #0 · at the root · datum \"\\u{feff}\"",
          "SNIP 1 · loop \"interchange\" opened without its own trigger (\"ISA\" with no "
          "conditions) to hold segment \"ST\" · segment #0 · at interchange#1 · datum \"ST\"",
          "SNIP 1 · loop \"group\" opened without its own trigger (\"GS\" with no conditions) to "
          "hold segment \"ST\" · segment #0 · at interchange#1/group#1 · datum \"ST\""}},
        // Later in the input the mark is part of a segment id.
        {isa() + kGs +
             "ST*835*0001~\xEF\xBB\xBF"
             "BPR*I~SE*3*0001~" +
             kTail,
         false,
         {"SNIP 1 · segment \"\\u{feff}BPR\" is not part of the structure: no open loop holds it "
          "and it opens no loop · segment #3 · at interchange#1/group#1/transaction#1 · datum "
          "\"\\u{feff}BPR\""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.bare ? bare_findings(c.text) : findings(c.text), c.expected) << c.text;
    }
}

// Ten counted segments: ST, BPR, the unknown ZZZ, TRN, N1, N1, LX, CLP, SVC and SE; the
// empty frame between TRN and N1 is not counted. The SE is segment 12.
std::string ten_segments(std::string_view se) {
    return isa() + kGs + "ST*835*0001~BPR*I~ZZZ*1~TRN*1~~N1*PR*P~N1*PE*E~LX*1~CLP*A~SVC*HC:1~" +
           std::string(se) + "~" + kTail;
}

TEST(EnvelopeChecker, TransactionCountIsPlainDigitsEqualToTheSegmentsFromStThroughSe) {
    const std::string unknown =
        "SNIP 1 · segment \"ZZZ\" is not part of the structure: no open loop holds it and it "
        "opens no loop · segment #4 · at interchange#1/group#1/transaction#1 · datum \"ZZZ\"";
    const std::string at = " · segment #12, element 1 · at interchange#1/group#1/transaction#1";
    struct Case {
        std::string se;
        std::vector<std::string> expected;  // after the unknown segment's finding
    };
    const std::vector<Case> cases = {
        {"SE*10*0001", {}},
        {"SE*0010*0001", {}},
        {"SE*000000000000000000010*0001", {}},
        {"SE*1O*0001",
         {"SNIP 1 · SE01 declares \"1O\" but the count is 10" + at + " · datum \"1O\""}},
        {"SE*+10*0001",
         {"SNIP 1 · SE01 declares \"+10\" but the count is 10" + at + " · datum \"+10\""}},
        {"SE* 10*0001",
         {"SNIP 1 · SE01 declares \" 10\" but the count is 10" + at + " · datum \" 10\""}},
        {"SE*-10*0001",
         {"SNIP 1 · SE01 declares \"-10\" but the count is 10" + at + " · datum \"-10\""}},
        {"SE**0001", {"SNIP 1 · SE01 declares \"\" but the count is 10" + at + " · datum \"\""}},
        {"SE*9*0001", {"SNIP 1 · SE01 declares \"9\" but the count is 10" + at + " · datum \"9\""}},
        {"SE*18446744073709551615*0001",
         {"SNIP 1 · SE01 declares \"18446744073709551615\" but the count is 10" + at +
          " · datum \"18446744073709551615\""}},
        {"SE*18446744073709551626*0001",
         {"SNIP 1 · SE01 declares \"18446744073709551626\" but the count is 10" + at +
          " · datum \"18446744073709551626\""}},
        {"SE*100000000000000000010*0001",
         {"SNIP 1 · SE01 declares \"100000000000000000010\" but the count is 10" + at +
          " · datum \"100000000000000000010\""}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> expected = {unknown};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(findings(ten_segments(c.se)), expected) << c.se;
    }
}

TEST(EnvelopeChecker, CountCheckComesBeforeNumberCheck) {
    const std::string path = " · at interchange#1/group#1/transaction#1";
    struct Case {
        std::string transaction;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"ST*835*0001~SE*3*0002~",
         {"SNIP 1 · SE01 declares \"3\" but the count is 2 · segment #3, element 1" + path +
              " · datum \"3\"",
          "SNIP 1 · SE02 \"0002\" does not match ST02 \"0001\" of segment #2 · segment #3, "
          "element 2" +
              path + " · datum \"0002\""}},
        {"ST*835*0001~SE~",
         {"SNIP 1 · control element SE01 is missing: the segment has no element 1 · segment "
          "#3, element 1" +
              path + " · datum \"\"",
          "SNIP 1 · control element SE02 is missing: the segment has no element 2 · segment "
          "#3, element 2" +
              path + " · datum \"\""}},
        // An empty opener is kept and compared like any other text.
        {"ST*835*~SE*2*0001~",
         {"SNIP 1 · SE02 \"0001\" does not match ST02 \"\" of segment #2 · segment #3, element 2" +
          path + " · datum \"0001\""}},
        // Without ST02 there is nothing to compare SE02 with, but the count is still checked.
        {"ST*835~BPR*I~SE*4*0001~",
         {"SNIP 1 · control element ST02 is missing: the segment has no element 2 · segment "
          "#2, element 2" +
              path + " · datum \"\"",
          "SNIP 1 · SE01 declares \"4\" but the count is 3 · segment #4, element 1" + path +
              " · datum \"4\""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(findings(isa() + kGs + c.transaction + kTail), c.expected) << c.transaction;
    }
}

TEST(EnvelopeChecker, GroupAndInterchangeCountOnlyExplicitChildren) {
    // The CLP opens a second transaction implicitly; GE01 counts only the first.
    EXPECT_EQ(findings(isa() + kGs + "ST*835*0001~SE*2*0001~CLP*A~SE*2*0001~GE*2*7~" +
                       "IEA*1*000000001~"),
              (std::vector<std::string>{
                  "SNIP 1 · loop \"transaction\" opened without its own trigger (\"ST\" with no "
                  "conditions) to hold segment \"CLP\" · segment #4 · at "
                  "interchange#1/group#1/transaction#2 · datum \"CLP\"",
                  "SNIP 1 · loop \"2000\" opened without its own trigger (\"LX\" with no "
                  "conditions) to hold segment \"CLP\" · segment #4 · at "
                  "interchange#1/group#1/transaction#2/2000#1 · datum \"CLP\"",
                  "SNIP 1 · GE01 declares \"2\" but the count is 1 · segment #6, element 1 · at "
                  "interchange#1/group#1 · datum \"2\""}));
    // The ST opens the group implicitly; IEA01 counts no child.
    EXPECT_EQ(findings(isa() + "ST*835*0001~SE*2*0001~IEA*1*000000001~"),
              (std::vector<std::string>{
                  "SNIP 1 · loop \"group\" opened without its own trigger (\"GS\" with no "
                  "conditions) to hold segment \"ST\" · segment #1 · at interchange#1/group#1 · "
                  "datum \"ST\"",
                  "SNIP 1 · IEA01 declares \"1\" but the count is 0 · segment #3, element 1 · at "
                  "interchange#1 · datum \"1\""}));
    EXPECT_EQ(findings(isa() + kGs + "ST*835*1~SE*2*1~ST*835*2~SE*2*2~GE*2*7~GS*HP*S*R*1*1*8~" +
                       "GE*0*8~IEA*2*000000001~"),
              std::vector<std::string>{});
}

TEST(EnvelopeChecker, UnterminatedLoopsAtTheNextTriggerOrTheEndOfStream) {
    // A new ST closes the open transaction, which is reported at the new ST.
    EXPECT_EQ(findings(isa() + kGs + "ST*835*0001~BPR*I~ST*835*0002~SE*2*0002~GE*2*7~" +
                       "IEA*1*000000001~"),
              (std::vector<std::string>{
                  "SNIP 1 · loop \"transaction\" opened at segment #2 closed without its end "
                  "segment \"SE\" · segment #4 · at interchange#1/group#1/transaction#1 · datum "
                  "\"ST\""}));
    // At the end, innermost first; loops without an end and implicit loops are never reported.
    EXPECT_EQ(findings(isa() + kGs + "ST*835*0001~LX*1~CLP*A~"),
              (std::vector<std::string>{
                  "SNIP 1 · loop \"transaction\" opened at segment #2 closed without its end "
                  "segment \"SE\" · end of stream · at interchange#1/group#1/transaction#1 · "
                  "datum \"\"",
                  "SNIP 1 · loop \"group\" opened at segment #1 closed without its end segment "
                  "\"GE\" · end of stream · at interchange#1/group#1 · datum \"\"",
                  "SNIP 1 · loop \"interchange\" opened at segment #0 closed without its end "
                  "segment \"IEA\" · end of stream · at interchange#1 · datum \"\""}));
    EXPECT_EQ(bare_findings("CLP*A~"),
              (std::vector<std::string>{
                  "SNIP 1 · loop \"interchange\" opened without its own trigger (\"ISA\" with no "
                  "conditions) to hold segment \"CLP\" · segment #0 · at interchange#1 · datum "
                  "\"CLP\"",
                  "SNIP 1 · loop \"group\" opened without its own trigger (\"GS\" with no "
                  "conditions) to hold segment \"CLP\" · segment #0 · at interchange#1/group#1 · "
                  "datum \"CLP\"",
                  "SNIP 1 · loop \"transaction\" opened without its own trigger (\"ST\" with no "
                  "conditions) to hold segment \"CLP\" · segment #0 · at "
                  "interchange#1/group#1/transaction#1 · datum \"CLP\"",
                  "SNIP 1 · loop \"2000\" opened without its own trigger (\"LX\" with no "
                  "conditions) to hold segment \"CLP\" · segment #0 · at "
                  "interchange#1/group#1/transaction#1/2000#1 · datum \"CLP\""}));
}

TEST(EnvelopeChecker, CompositeControlElementsAreJoinedByTheComponentSeparator) {
    const std::string path = " · at interchange#1/group#1/transaction#1";
    struct Case {
        char component;
        std::string transaction;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {':', "ST*835*00:01~SE*2*00:01~", {}},
        {':',
         "ST*835*00:01~SE*2*00:02~",
         {"SNIP 1 · SE02 \"00:02\" does not match ST02 \"00:01\" of segment #2 · segment #3, "
          "element 2" +
          path + " · datum \"00:02\""}},
        {'>', "ST*835*A>B~SE*2*A>B~", {}},
        {'>',
         "ST*835*A>B~SE*2*A>~",
         {"SNIP 1 · SE02 \"A>\" does not match ST02 \"A>B\" of segment #2 · segment #3, element 2" +
          path + " · datum \"A>\""}},
        // A composite count is never plain digits.
        {':',
         "ST*835*1~SE*0:2*1~",
         {"SNIP 1 · SE01 declares \"0:2\" but the count is 2 · segment #3, element 1" + path +
          " · datum \"0:2\""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(findings(isa(c.component) + kGs + c.transaction + kTail), c.expected)
            << c.transaction;
    }
}

TEST(EnvelopeChecker, FinishStartsAfreshAndCountsEachLoop) {
    auto document = Document::parse(Buffer::copy_of(
        isa() + kGs + "ST*835*0001~SE*2*0001~ST*835*0002~SE*2*0002~GE*2*7~IEA*1*000000001~" +
        isa() + "ST*835*0003~"));
    ASSERT_TRUE(document.has_value());
    EnvelopeChecker checker(spec(), document->delimiters());
    const std::vector<std::string> first = findings(*document, checker);
    EXPECT_EQ(first,
              (std::vector<std::string>{
                  "SNIP 1 · loop \"group\" opened without its own trigger (\"GS\" with no "
                  "conditions) to hold segment \"ST\" · segment #9 · at interchange#2/group#2 · "
                  "datum \"ST\"",
                  "SNIP 1 · loop \"transaction\" opened at segment #9 closed without its end "
                  "segment \"SE\" · end of stream · at interchange#2/group#2/transaction#3 · "
                  "datum \"\"",
                  "SNIP 1 · loop \"interchange\" opened at segment #8 closed without its end "
                  "segment \"IEA\" · end of stream · at interchange#2 · datum \"\""}));
    // Nothing stays open, and instances and counts start again from the first.
    EXPECT_EQ(findings(*document, checker), first);
}

// The engine never closes a loop that is not open, and places an end segment only in the
// innermost loop; events that break this are a fault, never a finding.
TEST(EnvelopeChecker, EventsTheEngineNeverGivesAreAFault) {
    auto document = Document::parse(Buffer::copy_of(isa() + kGs + "SE*1*0001~"));
    ASSERT_TRUE(document.has_value());
    const std::optional<remitrax::Segment> se = document->segment(2);
    ASSERT_TRUE(se.has_value());
    const auto loop = [](std::string_view name) { return *spec().loop_id(name); };
    const std::vector<std::vector<Event>> cases = {
        {Event::close(loop("interchange"))},
        {Event::open(loop("interchange"), 0, false), Event::close(loop("interchange")),
         Event::close(loop("interchange"))},
        {Event::placed(loop("transaction"), 2)},
        {Event::open(loop("interchange"), 0, false), Event::open(loop("group"), 1, false),
         Event::placed(loop("transaction"), 2)},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EnvelopeChecker checker(spec(), document->delimiters());
        EXPECT_THROW(checker.on(*se, cases[i]), remitrax::InternalFault) << "case " << i;
    }
}

}  // namespace
