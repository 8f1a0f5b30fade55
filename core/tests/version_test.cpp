// Compiling a declared version, testing segments against it, and choosing among candidates.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sample_folder.hpp"
#include "spec/version.hpp"
#include "x12/document.hpp"
#include "x12/tokenizer.hpp"

namespace {

using remitrax::Buffer;
using remitrax::compile_version;
using remitrax::DeclaredVersion;
using remitrax::Delimiters;
using remitrax::Document;
using remitrax::RawVersion;
using remitrax::Segment;
using remitrax::select_version;
using remitrax::SpecError;
using remitrax::Tokenizer;
using remitrax::VersionMatch;
using std::nullopt;

TEST(VersionCompile, ReportsTheFirstFault) {
    struct Case {
        RawVersion raw;
        std::string text;
    };
    const std::string bad = "the spec's \"version\" is invalid: ";
    const std::vector<Case> cases = {
        {{"", 0, {}}, "the spec has an empty segment id at version.segment"},
        {{"", 8, {"A", "A"}}, "the spec has an empty segment id at version.segment"},
        {{"GS", 0, {}}, bad + "\"element\" is 0; positions are 1-based"},
        {{"GS", 0, {"", "A", "A"}}, bad + "\"element\" is 0; positions are 1-based"},
        {{"GS", 8, {}}, bad + "\"values\" is empty; list at least one value the element may hold"},
        {{"GS", 8, {"A", "", "A"}}, bad + "\"values[1]\" is empty"},
        {{"GS", 8, {"A", "A", "B", ""}}, bad + "\"values[3]\" is empty"},
        {{"GS", 8, {"", "B", ""}}, bad + "\"values[0]\" is empty"},
        {{"GS", 8, {"X", "Y", "X", "Y"}},
         bad + "value \"X\" is listed twice, at values[0] and values[2]"},
        {{"GS", 8, {"X", "Y", "Y", "X"}},
         bad + "value \"Y\" is listed twice, at values[1] and values[2]"},
        {{"GS", 1, {"a\"b", "c", "a\"b"}},
         bad + "value \"a\\\"b\" is listed twice, at values[0] and values[2]"},
    };
    for (const auto& c : cases) {
        const auto compiled = compile_version(c.raw);
        ASSERT_FALSE(compiled.has_value()) << c.text;
        EXPECT_EQ(compiled.error().to_string(), c.text);
    }
}

TEST(VersionCompile, EmptySegmentIdHasNoLoop) {
    const auto compiled = compile_version({"", 0, {}});
    ASSERT_FALSE(compiled.has_value());
    const auto* empty = std::get_if<SpecError::EmptySegmentId>(&compiled.error().kind);
    ASSERT_NE(empty, nullptr) << compiled.error().debug();
    EXPECT_EQ(empty->loop_name, nullopt);
    EXPECT_EQ(empty->key, "version.segment");
}

TEST(VersionCompile, KeepsWhatWasWritten) {
    const std::uint64_t far = std::numeric_limits<std::uint64_t>::max();
    const std::vector<RawVersion> cases = {
        {"GS", 8, {"004010X091A1", "004010X091", "004010"}},
        {"gs", 1, {"a", "A"}},
        {"ST", far, {"z", "y", "x"}},
    };
    for (const auto& raw : cases) {
        const auto compiled = compile_version(raw);
        ASSERT_TRUE(compiled.has_value()) << compiled.error().to_string();
        EXPECT_EQ(compiled->segment, raw.segment);
        EXPECT_EQ(compiled->values, raw.values);
        EXPECT_EQ(compiled->element, raw.element);
    }
}

// The first segment of `text`, cut with '*', ':', '~' and, when given, a release byte.
Segment first_segment(const std::string& text, std::optional<char> release = nullopt) {
    Delimiters d;
    d.release = release;
    Tokenizer tokenizer(text, d);
    return tokenizer.next().value();
}

TEST(VersionMatches, AnswersForOneSegment) {
    struct Case {
        std::string text;
        DeclaredVersion version;
        VersionMatch expected;
        std::optional<char> release = nullopt;
    };
    const std::uint64_t far = std::numeric_limits<std::uint64_t>::max();
    const DeclaredVersion gs08{"GS", {"004010X091A1", "005010X221A1"}, 8};
    const std::string gs = "GS*HP*S*R*20110930*1007*45*X*";
    const std::vector<Case> cases = {
        {gs + "005010X221A1", gs08, VersionMatch::Match},
        {gs + "004010X091A1~", gs08, VersionMatch::Match},
        {gs + "004010X091A", gs08, VersionMatch::Mismatch},
        {gs + "004010X091A1 ", gs08, VersionMatch::Mismatch},
        {gs + "005010X221a1", gs08, VersionMatch::Mismatch},
        {gs + "005010X221A1*extra", gs08, VersionMatch::Match},
        {gs, gs08, VersionMatch::Mismatch},
        {"GS*HP*S*R*20110930*1007*45*X", gs08, VersionMatch::Mismatch},
        {"GS", gs08, VersionMatch::Mismatch},
        {gs + "005010X221A1:", gs08, VersionMatch::Mismatch},
        {gs + "004010X091A1:004010X091A1", gs08, VersionMatch::Mismatch},
        {"gs*HP*S*R*20110930*1007*45*X*005010X221A1", gs08, VersionMatch::OtherSegment},
        {"Gs*HP*S*R*20110930*1007*45*X*005010X221A1", gs08, VersionMatch::OtherSegment},
        {"GSA*HP*S*R*20110930*1007*45*X*005010X221A1", gs08, VersionMatch::OtherSegment},
        {"ST*835*0001", gs08, VersionMatch::OtherSegment},
        {"ST", gs08, VersionMatch::OtherSegment},
        {"ST*835*0001", {"ST", {"835"}, 1}, VersionMatch::Match},
        {"ST*835*0001", {"ST", {"835"}, 2}, VersionMatch::Mismatch},
        {"ST*835*0001", {"ST", {"835"}, 3}, VersionMatch::Mismatch},
        {"ST*835*0001", {"ST", {"835"}, far}, VersionMatch::Mismatch},
        {"ST*835*0001", {"ST", {"ST"}, 0}, VersionMatch::Mismatch},
        // Release characters are removed before comparing.
        {"ST*8?:35", {"ST", {"8:35"}, 1}, VersionMatch::Match, '?'},
        {"ST*8?:35", {"ST", {"8?:35"}, 1}, VersionMatch::Mismatch, '?'},
        {"ST*8?:35", {"ST", {"8?:35"}, 1}, VersionMatch::Mismatch},
        {"S?T*835", {"ST", {"835"}, 1}, VersionMatch::OtherSegment, '?'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.version.matches(first_segment(c.text, c.release)), c.expected);
    }
}

// A tokenizer that counts the segments it has handed out.
class Counting {
  public:
    Counting(const std::string& input, std::size_t& reads)
        : tokenizer_(input, Delimiters{}), reads_(&reads) {}

    std::optional<Segment> next() {
        auto segment = tokenizer_.next();
        if (segment) {
            ++*reads_;
        }
        return segment;
    }

  private:
    Tokenizer tokenizer_;
    std::size_t* reads_;
};

TEST(VersionSelect, FollowsTheLeader) {
    const DeclaredVersion p{"S1", {"p"}, 1};
    const DeclaredVersion q{"S2", {"q"}, 1};
    const DeclaredVersion p2{"S1", {"b"}, 1};
    struct Case {
        std::string name;
        std::vector<const DeclaredVersion*> candidates;
        std::string input;
        std::optional<std::size_t> chosen;
        std::size_t reads;
    };
    const std::vector<Case> cases = {
        {"no candidates", {}, "S1*p~S2*q~", nullopt, 0},
        {"none declares", {nullptr, nullptr}, "S1*p~S2*q~", nullopt, 0},
        {"empty input", {&p, &q}, "", nullopt, 0},
        {"first decides first", {&p, &q}, "S1*p~S2*q~X~", 0, 1},
        {"later waits for the leader", {&p, &q}, "S2*q~X~X~", 1, 3},
        {"leader accepted later", {&p, &q}, "S2*q~X~S1*p~X~", 0, 3},
        {"leader rejected later", {&p, &q}, "S2*q~X~S1*n~X~", 1, 3},
        {"both rejected", {&p, &q}, "S1*n~S2*n~X~", nullopt, 2},
        {"rejected leader then undecided", {&p, &q}, "S1*n~X~X~", nullopt, 3},
        {"undeclared leader skipped", {nullptr, &q}, "S2*q~X~", 1, 1},
        {"one segment decides two", {&p, &p2}, "S1*b~X~", 1, 1},
        {"first declaring segment decides", {&p, &q}, "S1*n~S1*p~S2*q~X~", 1, 3},
        {"composite rejects", {&p, &q}, "S1*p:p~S2*q~", 1, 2},
        {"short segment rejects", {&p, &q}, "S1~S2*q~", 1, 2},
        {"nothing declared in input", {&p, &q}, "X~Y~Z", nullopt, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t reads = 0;
        EXPECT_EQ(select_version(c.candidates, Counting(c.input, reads)), c.chosen);
        EXPECT_EQ(reads, c.reads);
    }
}

enum class Expected { V5010, V4010, Default };

TEST(VersionSelect, SampleFilesByTheirGs08) {
    REMITRAX_SKIP_WITHOUT_SAMPLES();
    const std::filesystem::path folder = remitrax::testing::sample_folder();
    const DeclaredVersion v5010{"GS", {"005010X221A1"}, 8};
    const DeclaredVersion v4010{"GS", {"004010X091A1", "004010X091", "004010"}, 8};
    const std::vector<const DeclaredVersion*> candidates = {&v5010, &v4010};
    const auto as_expected = [](std::optional<std::size_t> chosen) {
        return !chosen ? Expected::Default : *chosen == 0 ? Expected::V5010 : Expected::V4010;
    };
    // Read from each file's first GS segment by eye.
    const std::map<std::string, Expected> expected = {
        {"affect_nevada_medicaid_3st.txt", Expected::V5010},
        {"badx12_x221_era_sample.edi", Expected::V5010},
        {"chs_test.835", Expected::V5010},
        {"e835p_emedny_oneline.txt", Expected::V5010},
        {"lfh_managed_care.835", Expected::V5010},
        {"oop_5010_3isa_bom_crlf_indent.txt", Expected::V5010},
        {"tigershark_5010_example1_pipe_comp.txt", Expected::V5010},
        {"tp_multi_line_not_delimited.edi", Expected::V5010},
        {"tp_profee_multiple_156isa.edi", Expected::V5010},
        {"oop_4010_example1_bom_crlf_indent.txt", Expected::V4010},
        {"pyx12_835_simple_4010_crlf.txt", Expected::V4010},
        {"pyx12_bad_header_looping_4010.txt", Expected::V4010},
        // GS08 "999999X999X9", "5010", "00401" and "004010X094A1" (a later GS holds
        // "004010X091A1"), and a GS with two elements.
        {"oop_4010_deident_01.dat", Expected::Default},
        {"oop_5010dir_example1_gs08_5010.txt", Expected::Default},
        {"pbx12_example835_one.txt", Expected::Default},
        {"pbx12_example835_caret_term.txt", Expected::Default},
        {"pyx12_mult_gs_mixed_types.txt", Expected::Default},
        {"pyx12_mult_isa_mixed_types.txt", Expected::Default},
        {"cpan_x12_sample_835_4010_garbage.txt", Expected::Default},
        // GS08 "004010X091A1", but the terminator is LF and every later segment begins with a
        // stray '~', so no segment has the id "GS".
        {"tigershark_835_example2_4010_pipe_2st.txt", Expected::Default},
        {"tigershark_835_example_4010_pipe.txt", Expected::Default},
    };
    std::size_t checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        std::string bytes(entry.file_size(), '\0');
        std::ifstream file(entry.path(), std::ios::binary);
        ASSERT_TRUE(file.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
        const auto document = Document::parse(Buffer::copy_of(bytes));
        const auto tokenizer = Tokenizer::create(bytes);
        if (!document || !tokenizer) {
            EXPECT_FALSE(expected.contains(name));
            continue;
        }
        const auto from_document = select_version(candidates, document->segments());
        const auto from_tokenizer = select_version(candidates, *tokenizer);
        EXPECT_EQ(from_document, from_tokenizer);
        if (const auto it = expected.find(name); it != expected.end()) {
            EXPECT_EQ(as_expected(from_document), it->second);
            ++checked;
        }
        // Both candidates declare on GS, so the first GS ends the reading.
        std::size_t reads = 0;
        auto walk = document->segments();
        std::optional<std::size_t> first_gs;
        for (std::size_t i = 0; const auto segment = walk.next(); ++i) {
            if (segment->id() == "GS") {
                first_gs = i;
                break;
            }
        }
        struct Counted {
            remitrax::Segments segments;
            std::size_t* reads;
            std::optional<Segment> next() {
                auto segment = segments.next();
                *reads += segment ? 1u : 0u;
                return segment;
            }
        };
        select_version(candidates, Counted{document->segments(), &reads});
        EXPECT_EQ(reads, first_gs ? *first_gs + 1 : document->size());
    }
    EXPECT_EQ(checked, expected.size());
}

}  // namespace
