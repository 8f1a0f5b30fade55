// The SNIP level 1 findings of public sample files, compared with what reading them by hand
// shows; every other sample must simply go through.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/buffer.hpp"
#include "engine/engine.hpp"
#include "envelope/checker.hpp"
#include "sample_folder.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"

namespace {

using remitrax::Buffer;
using remitrax::Delimiters;
using remitrax::Diagnostic;
using remitrax::Document;
using remitrax::EnvelopeChecker;
using remitrax::LoopEngine;
using remitrax::Spec;

namespace fs = std::filesystem;

// The findings of one file, one line each. A file without an interchange header is cut with
// the usual delimiters.
std::vector<std::string> findings(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto parsed = Document::parse(Buffer::copy_of(bytes));
    std::optional<Document> document;
    if (parsed) {
        document.emplace(std::move(*parsed));
    } else {
        auto bare = Document::with_delimiters(Buffer::copy_of(bytes), Delimiters{});
        EXPECT_TRUE(bare.has_value()) << path;
        if (!bare) {
            return {};
        }
        document.emplace(std::move(*bare));
    }

    const std::shared_ptr<const Spec> spec = Spec::builtin_835();
    LoopEngine engine(*spec);
    EnvelopeChecker checker(*spec, document->delimiters());
    std::vector<std::string> lines;
    const auto keep = [&](const Diagnostic& diagnostic) {
        EXPECT_EQ(diagnostic.level.number(), 1U) << path;
        EXPECT_TRUE(!diagnostic.segment || *diagnostic.segment < document->size()) << path;
        lines.push_back(diagnostic.to_string());
    };
    for (std::size_t i = 0; i < document->size(); ++i) {
        const std::optional<remitrax::Segment> segment = document->segment(i);
        for (const Diagnostic& diagnostic : checker.on(*segment, engine.feed(*segment))) {
            keep(diagnostic);
        }
    }
    for (const Diagnostic& diagnostic : checker.finish()) {
        keep(diagnostic);
    }
    return lines;
}

const std::string kTransaction = " · at interchange#1/group#1/transaction#1";

// Read off the files: counts from ST through SE, child loops, control numbers, segments the
// 835 does not define, and loops entered without their trigger.
const std::map<std::string, std::vector<std::string>> kExpected = {
    {"pyx12_835_mult_loops.txt", {}},
    {"pyx12_bad_header_looping_4010.txt",
     {"SNIP 1 · SE01 declares \"39\" but the count is 72 · segment #73, element 1" + kTransaction +
      " · datum \"39\""}},
    {"affect_nevada_medicaid_3st.txt",
     {"SNIP 1 · IEA02 \"100000301\" does not match ISA13 \"100000300\" of segment #0 · segment "
      "#66, element 2 · at interchange#1 · datum \"100000301\""}},
    {"chs_test.835",
     {"SNIP 1 · loop \"2000\" opened without its own trigger (\"LX\" with no conditions) to hold "
      "segment \"CLP\" · segment #7 · at interchange#1/group#1/transaction#1/2000#1 · datum "
      "\"CLP\"",
      "SNIP 1 · SE01 declares \"17\" but the count is 16 · segment #17, element 1" + kTransaction +
          " · datum \"17\""}},
    {"gunajii_sample_835.edi",
     {"SNIP 1 · SE01 declares \"15\" but the count is 14 · segment #15, element 1" + kTransaction +
      " · datum \"15\""}},
    {"e835p_blue_cross_nc_bare_st.txt",
     {"SNIP 1 · loop \"interchange\" opened without its own trigger (\"ISA\" with no conditions) "
      "to hold segment \"ST\" · segment #0 · at interchange#1 · datum \"ST\"",
      "SNIP 1 · loop \"group\" opened without its own trigger (\"GS\" with no conditions) to hold "
      "segment \"ST\" · segment #0 · at interchange#1/group#1 · datum \"ST\"",
      "SNIP 1 · SE01 declares \"33\" but the count is 32 · segment #31, element 1" + kTransaction +
          " · datum \"33\""}},
    // GS has seven elements, so GS06 is "X"; the implicit interchange has no IEA02 check.
    {"pbx12_example835_no_isa.txt",
     {"SNIP 1 · loop \"interchange\" opened without its own trigger (\"ISA\" with no conditions) "
      "to hold segment \"GS\" · segment #0 · at interchange#1 · datum \"GS\"",
      "SNIP 1 · segment \"N7\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #6 · at interchange#1/group#1/transaction#1/1000A#1 · datum \"N7\"",
      "SNIP 1 · GE02 \"000000001\" does not match GS06 \"X\" of segment #0 · segment #25, "
      "element 2 · at interchange#1/group#1 · datum \"000000001\""}},
    {"pbx12_example835_one.txt",
     {"SNIP 1 · segment \"N7\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #7 · at interchange#1/group#1/transaction#1/1000A#1 · datum \"N7\"",
      "SNIP 1 · GE02 \"000000001\" does not match GS06 \"X\" of segment #1 · segment #26, "
      "element 2 · at interchange#1/group#1 · datum \"000000001\"",
      "SNIP 1 · IEA02 \"000000001\" does not match ISA13 \"0000000001\" of segment #0 · segment "
      "#27, element 2 · at interchange#1 · datum \"000000001\""}},
    {"pyx12_mult_gs_mixed_types.txt",
     {"SNIP 1 · segment \"BHT\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #3" +
          kTransaction + " · datum \"BHT\"",
      "SNIP 1 · segment \"BHT\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #6 · at interchange#1/group#1/transaction#2 · datum \"BHT\"",
      "SNIP 1 · segment \"BHT\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #9 · at interchange#1/group#1/transaction#3 · datum \"BHT\"",
      "SNIP 1 · segment \"BHT\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #14 · at interchange#1/group#2/transaction#4 · datum \"BHT\""}},
    {"oop_4010_example1_bom_crlf_indent.txt",
     {"SNIP 1 · the input starts with a UTF-8 byte order mark, kept as leading trivia of the "
      "first segment · segment #0 · at the root · datum \"\\u{feff}\""}},
    {"tigershark_5010_example2.txt",
     {"SNIP 1 · SE02 \"0001\" does not match ST02 \"1234\" of segment #2 · segment #53, element "
      "2" +
      kTransaction + " · datum \"0001\""}},
    // Segments end with CR; GS holds two elements only.
    {"cpan_x12_sample_835_4010_garbage.txt",
     {"SNIP 1 · control element GS06 is missing: the segment has no element 6 · segment #1, "
      "element 6 · at interchange#1/group#1 · datum \"\"",
      "SNIP 1 · segment \"N7\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #7 · at interchange#1/group#1/transaction#1/1000A#1 · datum \"N7\"",
      "SNIP 1 · segment \"TS7\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #12 · at interchange#1/group#1/transaction#1/2000#1 · datum \"TS7\"",
      "SNIP 1 · segment \"TS7\" is not part of the structure: no open loop holds it and it opens "
      "no loop · segment #22 · at interchange#1/group#1/transaction#1/2000#2 · datum \"TS7\"",
      "SNIP 1 · SE01 declares \"1\" but the count is 28 · segment #29, element 1" + kTransaction +
          " · datum \"1\""}},
    {"oop_4010_deident_02_large_6st.dat",
     {"SNIP 1 · SE02 \"999999999\" does not match ST02 \"9999999996\" of segment #12771 · "
      "segment #12999, element 2 · at interchange#1/group#1/transaction#6 · datum \"999999999\"",
      "SNIP 1 · IEA02 \"9999999996\" does not match ISA13 \"999999999\" of segment #0 · segment "
      "#13001, element 2 · at interchange#1 · datum \"9999999996\""}},
};

TEST(EnvelopeSamples, FindingsMatchWhatTheFilesHold) {
    REMITRAX_SKIP_WITHOUT_SAMPLES();
    const fs::path samples = remitrax::testing::sample_folder();
    for (const auto& [name, expected] : kExpected) {
        const fs::path path = samples / name;
        ASSERT_TRUE(fs::is_regular_file(path)) << path;
        EXPECT_EQ(findings(path), expected) << name;
    }
}

TEST(EnvelopeSamples, EveryOtherFileGoesThrough) {
    REMITRAX_SKIP_WITHOUT_SAMPLES();
    std::size_t files = 0;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(remitrax::testing::sample_folder())) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name.ends_with(".md") || kExpected.contains(name)) {
            continue;
        }
        findings(entry.path());
        ++files;
    }
    EXPECT_GT(files, 0U);
}

}  // namespace
