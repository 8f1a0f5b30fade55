// The processor end to end: the order of what one step gives, the end of an input, takes
// between steps, the whole-document road against the segment-by-segment one over every
// sample file, and the full output of the inputs in golden/inputs kept as expected text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/buffer.hpp"
#include "engine/engine.hpp"
#include "process/processor.hpp"
#include "processor_roads.hpp"
#include "sample_folder.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"

namespace {

using namespace remitrax;
using namespace remitrax::testing;
namespace fs = std::filesystem;

std::vector<std::string> names_of(const Tables& tables) {
    std::vector<std::string> names;
    for (const Table& table : tables) {
        names.push_back(table.name());
    }
    return names;
}

// Feeds every segment of a document into one processor, keeping each step's output.
struct Stepper {
    Stepper(std::shared_ptr<const Spec> loaded, std::string_view text)
        : spec(std::move(loaded)),
          document(Document::with_delimiters(Buffer::copy_of(text), Delimiters{}).value()),
          processor(spec, document.delimiters()) {}

    // Feeds the segments from `first` to the end, one step each.
    void feed_from(std::size_t first = 0) {
        for (std::size_t i = first; i < document.size(); ++i) {
            const Output& output = processor.feed(document.segment(i).value());
            steps.push_back({output.events, lines_of(output.diagnostics)});
        }
    }

    LoopId loop(std::string_view name) const { return spec->loop_id(name).value(); }

    struct Step {
        std::vector<Event> events;
        std::vector<std::string> diagnostics;
    };

    std::shared_ptr<const Spec> spec;
    Document document;
    Processor processor;
    std::vector<Step> steps;
};

constexpr std::string_view head =
    "ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       *240101*1200*^*00501"
    "*000000001*0*P*:~"
    "GS*HP*SENDER*RECEIVER*20240101*1200*1*X*005010X221A1~";

std::string transaction(std::string_view control, std::string_view claims, int count) {
    return "ST*835*" + std::string(control) + "~BPR*I*100*C*ACH*CCP~TRN*1*12345*1512345678~" +
           std::string(claims) + "SE*" + std::to_string(count) + "*" + std::string(control) + "~";
}

const std::string one_claim = "LX*1~CLP*A*1*10*5**12*P1~SVC*HC:1*10*5~";
const std::string whole =
    std::string(head) + transaction("0001", one_claim, 7) + "GE*1*1~IEA*1*000000001~";

// ---------------------------------------------------------------------------------------------
// One step at a time.

TEST(ProcessorSteps, AWhitespaceLastFrameIsAnEmptyEventNobodyReports) {
    for (const std::string_view tail : {"\n", "  \r\n\t", " "}) {
        Stepper stepper(Spec::builtin_835(), whole + std::string(tail));
        stepper.feed_from();
        const std::size_t last = stepper.document.size() - 1;
        ASSERT_EQ(stepper.steps.size(), last + 1);
        EXPECT_EQ(stepper.steps.back().events, std::vector<Event>{Event::empty(last)});
        EXPECT_TRUE(stepper.steps.back().diagnostics.empty());
        // The frame counts for nothing: the same input without it has the same findings.
        const Document bare = open_document(whole);
        const Document padded = open_document(whole + std::string(tail));
        const auto spec = Spec::builtin_835();
        EXPECT_EQ(lines_of(Processor::run(spec, padded).diagnostics),
                  lines_of(Processor::run(spec, bare).diagnostics));
        EXPECT_EQ(Processor::run(spec, padded).tables.to_string(),
                  Processor::run(spec, bare).tables.to_string());
    }
}

TEST(ProcessorSteps, CheckerFindingsComeBeforeProjectorFindingsWithinAStep) {
    // No LX: the claim loop's parent opens implicitly (the checker reports it) and the claim
    // status code 99 is not in its list (the projector reports it).
    Stepper stepper(Spec::builtin_835(), std::string(head) +
                                             "ST*835*0001~BPR*I*100*C*ACH*CCP~"
                                             "TRN*1*12345*1512345678~"
                                             "CLP*A*99*10*5**12*P1~");
    stepper.feed_from();
    const Stepper::Step& clp = stepper.steps.at(5);
    EXPECT_EQ(clp.events, (std::vector<Event>{Event::open(stepper.loop("2000"), 5, true),
                                              Event::open(stepper.loop("2100"), 5, false),
                                              Event::placed(stepper.loop("2100"), 5)}));
    EXPECT_EQ(clp.diagnostics,
              (std::vector<std::string>{
                  "SNIP 1 · loop \"2000\" opened without its own trigger (\"LX\" with no "
                  "conditions) to hold segment \"CLP\" · segment #5 · at "
                  "interchange#1/group#1/transaction#1/2000#1 · datum \"CLP\"",
                  "SNIP 2 · element CLP02 (claim_status_code) is not one of the 10 codes the "
                  "spec lists for it · segment #5, element 2 · at "
                  "interchange#1/group#1/transaction#1/2000#1/2100#1 · datum \"99\"",
              }));
}

TEST(ProcessorSteps, FinishClosesInnermostFirstThenGivesTheCheckersEndFindings) {
    // Cut off inside a service line: six loops are open.
    Stepper stepper(Spec::builtin_835(),
                    std::string(head) + "ST*835*0001~BPR*I*100*C*ACH*CCP~" + one_claim);
    stepper.feed_from();
    const Output& output = stepper.processor.finish();
    std::vector<Event> closes;
    for (const char* name : {"2110", "2100", "2000", "transaction", "group", "interchange"}) {
        closes.push_back(Event::close(stepper.loop(name)));
    }
    EXPECT_EQ(output.events, closes);
    // Only loops with an end segment are findings; the projector's end finding would be a
    // dropped value, and none is dropped here.
    EXPECT_EQ(lines_of(output.diagnostics),
              (std::vector<std::string>{
                  "SNIP 1 · loop \"transaction\" opened at segment #2 closed without its end "
                  "segment \"SE\" · end of stream · at interchange#1/group#1/transaction#1 · "
                  "datum \"\"",
                  "SNIP 1 · loop \"group\" opened at segment #1 closed without its end segment "
                  "\"GE\" · end of stream · at interchange#1/group#1 · datum \"\"",
                  "SNIP 1 · loop \"interchange\" opened at segment #0 closed without its end "
                  "segment \"IEA\" · end of stream · at interchange#1 · datum \"\"",
              }));
    // The rows of the loops still open were appended at the finish.
    const Tables tables = stepper.processor.take_tables();
    EXPECT_EQ(
        rows_of(*tables.get("services")),
        std::vector<std::string>{"0 | 6 | 0 | 0 | ∅ | 10.00 | ∅ | ∅ | 5.00 | 1 | HC | ∅ | ∅"});
    EXPECT_EQ(tables.get("claims")->rows(), 1U);
    EXPECT_EQ(tables.get("payments")->rows(), 1U);
    // A second finish has nothing left to close.
    const Output& again = stepper.processor.finish();
    EXPECT_TRUE(again.events.empty());
    EXPECT_TRUE(again.diagnostics.empty());
}

TEST(ProcessorSteps, TakesWithNothingFedGiveEmptyTablesAndRowNumbersRunOn) {
    const std::string first = std::string(head) + transaction("0001", one_claim, 7);
    const std::string second = transaction("0002", one_claim, 7) + "GE*2*1~IEA*1*000000001~";
    Stepper stepper(Spec::builtin_835(), first + second);
    const std::size_t split = open_document(first).size();
    for (std::size_t i = 0; i < split; ++i) {
        stepper.processor.feed(stepper.document.segment(i).value());
    }
    const Tables taken = stepper.processor.take_tables();
    EXPECT_EQ(rows_of(*taken.get("claims")).size(), 1U);
    EXPECT_EQ(taken.get("claims")->column("row")->render(0), "0");

    const Tables empty = stepper.processor.take_tables();
    EXPECT_EQ(names_of(empty), names_of(taken));
    EXPECT_EQ(names_of(empty), (std::vector<std::string>{"adjustments", "claims", "payments",
                                                         "provider_adjustments", "services"}));
    for (std::size_t t = 0; t < empty.size(); ++t) {
        EXPECT_EQ(empty.tables()[t].rows(), 0U) << empty.tables()[t].name();
        EXPECT_EQ(empty.tables()[t].header(), taken.tables()[t].header());
    }

    stepper.feed_from(split);
    stepper.processor.finish();
    const Tables rest = stepper.processor.take_tables();
    for (const char* name : {"claims", "payments", "services"}) {
        ASSERT_EQ(rest.get(name)->rows(), 1U) << name;
        EXPECT_EQ(rest.get(name)->column("row")->render(0), "1") << name;
    }
    EXPECT_EQ(rest.get("claims")->column("payment")->render(0), "1");
}

// ---------------------------------------------------------------------------------------------
// The whole-document road.

TEST(ProcessorRun, OneSegmentIsFedOnceAndFinished) {
    Stepper stepper(Spec::builtin_835(), "ST*835*0001~");
    stepper.feed_from();
    ASSERT_EQ(stepper.steps.size(), 1U);
    const LoopId st = stepper.loop("transaction");
    EXPECT_EQ(stepper.steps[0].events.back(), Event::placed(st, 0));
    const Output& end = stepper.processor.finish();
    ASSERT_FALSE(end.events.empty());
    EXPECT_EQ(end.events.front(), Event::close(st));

    const RunResult result = Processor::run(stepper.spec, stepper.document);
    std::vector<std::string> expected = stepper.steps[0].diagnostics;
    for (const std::string& line : lines_of(end.diagnostics)) {
        expected.push_back(line);
    }
    EXPECT_EQ(lines_of(result.diagnostics), expected);
    EXPECT_EQ(rows_of(*result.tables.get("payments")),
              std::vector<std::string>{"0 | 0 | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | "
                                       "∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅ | ∅"});
}

TEST(ProcessorRun, AnEmptyIndexOnlyFinishes) {
    const auto spec = Spec::builtin_835();
    const Document document = Document::with_delimiters(Buffer::copy_of(""), Delimiters{}).value();
    ASSERT_EQ(document.size(), 0U);
    const RunResult result = Processor::run(spec, document);
    EXPECT_TRUE(result.diagnostics.empty());
    EXPECT_EQ(result.tables.size(), spec->tables.size());
    for (const Table& table : result.tables) {
        EXPECT_EQ(table.rows(), 0U) << table.name();
    }
    Processor processor(spec, document.delimiters());
    const Output& end = processor.finish();
    EXPECT_TRUE(end.events.empty());
    EXPECT_TRUE(end.diagnostics.empty());
}

TEST(ProcessorRun, DiagnosticsAreInInputOrderCheckerFirstWithinASegment) {
    // The BPR lacks its date; the CLP at 5 gives one finding of each; the SVC amount at 7 is not
    // a number; the SE count is wrong; the group and the interchange never end.
    const std::string text = std::string(head) +
                             "ST*835*0001~BPR*I*100*C*ACH*CCP~TRN*1*12345*1512345678~"
                             "CLP*A*99*10*5**12*P1~NM1*QC*1*DOE~SVC*HC:1*X*5~SE*9*0001~";
    const auto spec = Spec::builtin_835();
    const RunResult result = Processor::run(spec, open_document(text));
    EXPECT_EQ(lines_of(result.diagnostics),
              (std::vector<std::string>{
                  "SNIP 2 · required element BPR16 (check_issue_or_eft_effective_date) is missing "
                  "or empty · segment #3, element 16 · at interchange#1/group#1/transaction#1 · "
                  "datum \"\"",
                  "SNIP 1 · loop \"2000\" opened without its own trigger (\"LX\" with no "
                  "conditions) to hold segment \"CLP\" · segment #5 · at "
                  "interchange#1/group#1/transaction#1/2000#1 · datum \"CLP\"",
                  "SNIP 2 · element CLP02 (claim_status_code) is not one of the 10 codes the "
                  "spec lists for it · segment #5, element 2 · at "
                  "interchange#1/group#1/transaction#1/2000#1/2100#1 · datum \"99\"",
                  "SNIP 2 · element SVC02 (line_item_charge_amount) is not a valid R (decimal, "
                  "scale 2) · segment #7, element 2 · at "
                  "interchange#1/group#1/transaction#1/2000#1/2100#1/2110#1 · datum \"X\"",
                  "SNIP 1 · SE01 declares \"9\" but the count is 7 · segment #8, element 1 · at "
                  "interchange#1/group#1/transaction#1 · datum \"9\"",
                  "SNIP 1 · loop \"group\" opened at segment #1 closed without its end segment "
                  "\"GE\" · end of stream · at interchange#1/group#1 · datum \"\"",
                  "SNIP 1 · loop \"interchange\" opened at segment #0 closed without its end "
                  "segment \"IEA\" · end of stream · at interchange#1 · datum \"\"",
              }));
}

TEST(ProcessorRun, SpecsWithManySegmentIdsGiveWhatFeedingGives) {
    // Over 255 ids the run numbers segments with wider integers.
    for (const int extra : {300}) {
        std::string patch = R"({"segments":{)";
        for (int i = 0; i < extra; ++i) {
            patch += (i == 0 ? "" : ",") + std::string("\"Z") + std::to_string(i) +
                     R"(":{"elements":{"1":{"name":"x","type":"N0"}}})";
        }
        patch += "}}";
        const auto spec = Spec::builtin_835()->merge_patch(patch);
        ASSERT_TRUE(spec.has_value()) << spec.error().to_string();
        const std::string text = std::string(head) + "Z7*A~" +
                                 transaction("0001", one_claim + "Z299*5~Z0*X~", 9) +
                                 "GE*1*1~IEA*1*000000001~";
        Stepper stepper(*spec, text);
        stepper.feed_from();
        std::vector<std::string> expected;
        for (const Stepper::Step& step : stepper.steps) {
            expected.insert(expected.end(), step.diagnostics.begin(), step.diagnostics.end());
        }
        const std::vector<std::string> end = lines_of(stepper.processor.finish().diagnostics);
        expected.insert(expected.end(), end.begin(), end.end());
        const std::string tables = stepper.processor.take_tables().to_string();

        const RunResult result = Processor::run(*spec, stepper.document);
        EXPECT_EQ(lines_of(result.diagnostics), expected) << extra;
        EXPECT_EQ(result.tables.to_string(), tables) << extra;
        EXPECT_EQ(std::count_if(
                      expected.begin(), expected.end(),
                      [](const std::string& line) { return line.find("Z0") != std::string::npos; }),
                  1)
            << extra;
    }
}

// ---------------------------------------------------------------------------------------------
// Every sample file, both roads.

std::vector<fs::path> sample_files() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(remitrax::testing::sample_folder())) {
        if (entry.is_regular_file() && entry.path().filename() != "SOURCES.md") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ProcessorSamples, BothRoadsGiveTheSameTablesAndDiagnostics) {
    REMITRAX_SKIP_WITHOUT_SAMPLES();
    const std::vector<fs::path> files = sample_files();
    ASSERT_GE(files.size(), 40U);
    for (const fs::path& path : files) {
        const std::string bytes = read_file(path);
        const Outcome whole_road = run_whole(bytes);
        const Streamed stream = run_stream(bytes);
        EXPECT_EQ(stream.outcome.tables, whole_road.tables) << path.filename();
        EXPECT_EQ(stream.outcome.diagnostics, whole_road.diagnostics) << path.filename();

        // Taking at every transaction's end splits the rows without renumbering them.
        const Document document = open_document(bytes);
        const RunResult result = Processor::run(choose_spec(document.segments()), document);
        for (const Table& table : result.tables) {
            const auto found = stream.batched_rows.find(table.name());
            const std::vector<std::string> batched =
                found == stream.batched_rows.end() ? std::vector<std::string>{} : found->second;
            EXPECT_EQ(batched, rows_of(table)) << path.filename() << " " << table.name();
        }

        // Input order: segment indexes never go back, the end findings come last, and within
        // one segment SNIP 1 findings precede the others.
        std::optional<std::uint64_t> segment = 0;
        unsigned level = 0;
        for (const Diagnostic& diagnostic : result.diagnostics) {
            ASSERT_TRUE(segment.has_value() ? !diagnostic.segment || *diagnostic.segment >= *segment
                                            : !diagnostic.segment)
                << path.filename() << ": " << diagnostic.to_string();
            if (diagnostic.segment != segment) {
                level = 0;
            }
            EXPECT_GE(diagnostic.level.number(), level) << path.filename();
            segment = diagnostic.segment;
            level = diagnostic.level.number();
        }
    }
}

// Every take's tables as text, taking at each close of `by` and at the end: into new tables,
// or, with `spares`, into the tables of the take before the last one, as a stream does once
// its batches are dropped. `reused` counts the takes into spares.
std::vector<std::string> takes(std::string_view bytes, std::string_view by, bool spares,
                               std::size_t& reused) {
    Tokenizer tokenizer = open_tokenizer(bytes);
    const std::shared_ptr<const Spec> spec = choose_spec(tokenizer);
    const LoopId loop = spec->loop_id(by).value();
    Processor processor(spec, tokenizer.delimiters());
    std::vector<std::string> out;
    std::optional<Tables> older;
    std::optional<Tables> last;
    const auto take = [&] {
        const bool into_spare = spares && older.has_value();
        reused += into_spare ? 1 : 0;
        Tables taken =
            into_spare ? processor.take_tables(std::move(*older)) : processor.take_tables();
        out.push_back(taken.to_string());
        older = std::move(last);
        last = std::move(taken);
    };
    while (const std::optional<Segment> segment = tokenizer.next()) {
        for (const Event& event : processor.feed(*segment).events) {
            if (event.kind() == EventKind::Close && event.loop() == loop) {
                take();
            }
        }
    }
    processor.finish();
    take();
    return out;
}

TEST(ProcessorSamples, TakesIntoSpareTablesGiveWhatNewTablesGive) {
    REMITRAX_SKIP_WITHOUT_SAMPLES();
    std::size_t reused = 0;
    for (const fs::path& path : sample_files()) {
        const std::string bytes = read_file(path);
        for (const std::string_view by : {"transaction", "2100", "2110"}) {
            std::size_t unused = 0;
            EXPECT_EQ(takes(bytes, by, true, reused), takes(bytes, by, false, unused))
                << path.filename() << " by " << by;
        }
    }
    EXPECT_GT(reused, 100U);
}

TEST(ProcessorSamples, TheEmednyInterchangeInThreeLayoutsGivesTheSameTables) {
    REMITRAX_SKIP_WITHOUT_SAMPLES();
    const fs::path dir = remitrax::testing::sample_folder();
    const Outcome oneline = run_whole(read_file(dir / "e835p_emedny_oneline.txt"));
    const Outcome lines = run_whole(read_file(dir / "tp_profee_lf.edi"));
    const Outcome bare = run_whole(read_file(dir / "tp_multi_line_not_delimited.edi"));
    EXPECT_EQ(lines.tables, oneline.tables);
    EXPECT_EQ(bare.tables, oneline.tables);
    EXPECT_NE(oneline.tables.find("## claims (rows: 3)"), std::string::npos) << oneline.tables;
}

// ---------------------------------------------------------------------------------------------
// Expected output of the inputs in golden/inputs, rewritten when REMITRAX_UPDATE_GOLDEN=1.

constexpr const char* golden_inputs[] = {
    "three_transactions_plb_only.835", "gt_component_separator.835", "pipe_component_dental.835",
    "institutional_ts3_mia_moa.835",   "4010_bom_crlf_indent.835",   "4010_simple_crlf.835",
};

TEST(Golden, InputsGiveTheirExpectedTablesAndDiagnostics) {
    const char* update = std::getenv("REMITRAX_UPDATE_GOLDEN");
    const bool rewrite = update != nullptr && std::string_view(update) == "1";
    const fs::path golden = REMITRAX_GOLDEN_DIR;
    for (const char* name : golden_inputs) {
        const fs::path input = golden / "inputs" / name;
        ASSERT_TRUE(fs::is_regular_file(input)) << input << " is missing";
        const std::string bytes = read_file(input);
        const Outcome outcome = run_whole(bytes);
        // The segment-by-segment road is held to the same expected text.
        const Streamed stream = run_stream(bytes);
        EXPECT_EQ(stream.outcome.tables, outcome.tables) << input;
        EXPECT_EQ(stream.outcome.diagnostics, outcome.diagnostics) << input;
        std::string diagnostics;
        for (const std::string& line : outcome.diagnostics) {
            diagnostics += line;
            diagnostics += '\n';
        }
        const std::string stem = input.stem().string();
        const std::pair<fs::path, const std::string*> files[] = {
            {golden / (stem + ".tables.txt"), &outcome.tables},
            {golden / (stem + ".diagnostics.txt"), &diagnostics},
        };
        for (const auto& [path, text] : files) {
            if (rewrite) {
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out << *text;
                ASSERT_TRUE(out.good()) << path;
                continue;
            }
            ASSERT_TRUE(fs::exists(path)) << path
                                          << " is missing; REMITRAX_UPDATE_GOLDEN=1 "
                                             "writes it";
            EXPECT_EQ(*text, read_file(path)) << path;
        }
    }
}

// An expected file without its input would never be compared again.
TEST(Golden, EveryExpectedFileHasItsInput) {
    std::vector<std::string> inputs;
    for (const char* name : golden_inputs) {
        inputs.push_back(fs::path(name).stem().string());
    }
    std::sort(inputs.begin(), inputs.end());
    std::vector<std::string> expected;
    for (const auto& entry : fs::directory_iterator(REMITRAX_GOLDEN_DIR)) {
        const std::string name = entry.path().filename().string();
        for (const std::string_view suffix : {".tables.txt", ".diagnostics.txt"}) {
            if (name.ends_with(suffix)) {
                expected.push_back(name.substr(0, name.size() - suffix.size()));
            }
        }
    }
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(expected, inputs);
}

}  // namespace
