// Specs far larger than any real one: a thousand root loops, a chain of five hundred nested
// loops, seventy thousand segment ids. Each builds a processor and places segments exactly as
// a small spec of the same shape does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/buffer.hpp"
#include "base/id_index.hpp"
#include "process/processor.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"

namespace {

using namespace remitrax;

// `prefix` then `number` in five digits, so that loop names sort by number.
std::string numbered(std::string_view prefix, std::size_t number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%05zu", number);
    return std::string(prefix) + digits;
}

std::shared_ptr<const Spec> load(const std::string& json) {
    auto spec = Spec::from_json(json);
    EXPECT_TRUE(spec.has_value()) << (spec ? "" : spec.error().to_string());
    return spec ? *spec : nullptr;
}

// "Open(c00002,3,implicit)", "Close(r00000)", "Placed(r00000,1)", "Unplaced(4)".
std::string render(const Spec& spec, const Event& event) {
    const std::string at = std::to_string(event.segment());
    switch (event.kind()) {
        case EventKind::Open:
            return "Open(" + spec.loops[event.loop()].name + "," + at +
                   (event.implicit() ? ",implicit)" : ")");
        case EventKind::Close:
            return "Close(" + spec.loops[event.loop()].name + ")";
        case EventKind::Placed:
            return "Placed(" + spec.loops[event.loop()].name + "," + at + ")";
        case EventKind::Unplaced:
            return "Unplaced(" + at + ")";
        case EventKind::Empty:
            return "Empty(" + at + ")";
    }
    return {};
}

// What one segment gives: its events joined by spaces, and the number of findings.
struct Step {
    std::string events;
    std::size_t findings = 0;

    friend bool operator==(const Step&, const Step&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Step& step) {
        return out << step.events << " [" << step.findings << " findings]";
    }
};

// Builds a processor and feeds it every segment of `text`, then finishes; the findings go to
// `lines` when given.
std::vector<Step> feed(std::shared_ptr<const Spec> spec, std::string_view text,
                       std::vector<std::string>* lines = nullptr) {
    const Document document =
        Document::with_delimiters(Buffer::copy_of(text), Delimiters{}).value();
    Processor processor(spec, Delimiters{});
    std::vector<Step> steps;
    const auto keep = [&](const Output& output) {
        Step step{{}, output.diagnostics.size()};
        for (const Diagnostic& diagnostic : output.diagnostics) {
            if (lines != nullptr) {
                lines->push_back(diagnostic.to_string());
            }
        }
        for (const Event& event : output.events) {
            step.events += (step.events.empty() ? "" : " ") + render(*spec, event);
        }
        steps.push_back(std::move(step));
    };
    for (std::size_t i = 0; i < document.size(); ++i) {
        keep(processor.feed(document.segment(i).value()));
    }
    keep(processor.finish());
    return steps;
}

// ---------------------------------------------------------------------------------------------
// Many roots.

// `count` root loops r00000...: each opened by its own R segment and holding its M segment;
// those ending in 5 share the trigger Q, told apart by their number in Q01; those ending in 0
// close with their E segment.
std::string roots_spec(std::size_t count) {
    std::string loops;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string trigger =
            i % 10 == 5 ? R"({"segment": "Q", "where": {"1": ")" + numbered("", i) + "\"}}"
                        : R"({"segment": ")" + numbered("R", i) + "\"}";
        loops += (i == 0 ? "\"" : ", \"") + numbered("r", i) + R"(": {"trigger": )" + trigger +
                 R"(, "segments": [")" + numbered("M", i) + "\"]" +
                 (i % 10 == 0 ? R"(, "end": ")" + numbered("E", i) + "\"" : "") + "}";
    }
    return R"({"name": "roots", "loops": {)" + loops + "}}";
}

TEST(LargeSpec, ManyRootsPlaceAsAFewDo) {
    for (const std::size_t count : {10U, 1000U}) {
        const auto spec = load(roots_spec(count));
        ASSERT_NE(spec, nullptr);
        // A loop told apart by Q01, the last loop, and the last one with an end.
        const std::size_t q = count / 2 - count / 2 % 10 + 5;
        const std::size_t last = count - 1;
        const std::size_t ended = count - 10;
        const auto name = [](std::size_t i) { return numbered("r", i); };
        const std::string text = numbered("R", 0) + "~" + numbered("M", 0) + "~" +
                                 numbered("R", last) + "~" + numbered("M", last) + "~" +
                                 numbered("E", 0) + "~Q*" + numbered("", q) + "~" +
                                 numbered("M", q) + "~" + numbered("R", ended) + "~" +
                                 numbered("E", ended) + "~" + numbered("M", ended) + "~Q*7~";
        const std::vector<Step> expected = {
            {"Open(r00000,0) Placed(r00000,0)", 0},
            {"Placed(r00000,1)", 0},
            // r00000 is left without its end segment.
            {"Close(r00000) Open(" + name(last) + ",2) Placed(" + name(last) + ",2)", 1},
            {"Placed(" + name(last) + ",3)", 0},
            // The end of a loop that is not open belongs nowhere.
            {"Unplaced(4)", 1},
            // Every Q loop is a candidate; the one whose Q01 matches opens.
            {"Close(" + name(last) + ") Open(" + name(q) + ",5) Placed(" + name(q) + ",5)", 0},
            {"Placed(" + name(q) + ",6)", 0},
            {"Close(" + name(q) + ") Open(" + name(ended) + ",7) Placed(" + name(ended) + ",7)", 0},
            {"Placed(" + name(ended) + ",8) Close(" + name(ended) + ")", 0},
            // A member with its loop closed, and a Q that no loop's condition matches.
            {"Unplaced(9)", 1},
            {"Unplaced(10)", 1},
            {"", 0},
        };
        EXPECT_EQ(feed(spec, text), expected) << count << " roots";
    }
}

// ---------------------------------------------------------------------------------------------
// A deep chain.

// `depth` loops c00000...: each the parent of the next, opened by its C segment and holding its
// M segment; c00001 closes with E00001.
std::string chain_spec(std::size_t depth) {
    std::string loops;
    for (std::size_t i = 0; i < depth; ++i) {
        loops += (i == 0 ? "\"" : ", \"") + numbered("c", i) + R"(": {"trigger": {"segment": ")" +
                 numbered("C", i) + R"("}, "segments": [")" + numbered("M", i) + "\"]" +
                 (i > 0 ? R"(, "parent": ")" + numbered("c", i - 1) + "\"" : "") +
                 (i == 1 ? R"(, "end": "E00001")" : "") + "}";
    }
    return R"({"name": "chain", "loops": {)" + loops + "}}";
}

TEST(LargeSpec, DeepChainOpensAndClosesAsAShortOneDoes) {
    for (const std::size_t depth : {10U, 500U}) {
        const auto spec = load(chain_spec(depth));
        ASSERT_NE(spec, nullptr);
        const std::size_t deepest = depth - 1;
        const std::size_t mid = depth / 2;
        const auto name = [](std::size_t i) { return numbered("c", i); };
        // Opens [from, to) implicitly, then `to` by its trigger, all at segment `at`.
        const auto opens = [&](std::size_t from, std::size_t to, std::size_t at) {
            std::string out;
            for (std::size_t i = from; i < to; ++i) {
                out += "Open(" + name(i) + "," + std::to_string(at) + ",implicit) ";
            }
            const std::string where = name(to) + "," + std::to_string(at) + ")";
            return out + "Open(" + where + " Placed(" + where;
        };
        // Closes from `from` down to `to`, both included.
        const auto closes = [&](std::size_t from, std::size_t to) {
            std::string out;
            for (std::size_t i = from + 1; i > to; --i) {
                out += "Close(" + name(i - 1) + ") ";
            }
            return out;
        };
        const std::string text = numbered("C", deepest) + "~M00000~C00001~" + numbered("C", mid) +
                                 "~" + numbered("C", mid + 1) + "~M00002~E00001~C00000~ZZZ~";
        const std::vector<Step> expected = {
            // Nothing open: the whole chain opens, each loop reported as implicit.
            {opens(0, deepest, 0), deepest},
            // A member of the root closes everything below it.
            {closes(deepest, 1) + "Placed(c00000,1)", 0},
            {"Open(c00001,2) Placed(c00001,2)", 0},
            // The deepest open ancestor is c00001; only the loops below it open.
            {opens(2, mid, 3), mid - 2},
            {"Open(" + name(mid + 1) + ",4) Placed(" + name(mid + 1) + ",4)", 0},
            // A member goes to the innermost open loop holding it.
            {closes(mid + 1, 3) + "Placed(c00002,5)", 0},
            {"Close(c00002) Placed(c00001,6) Close(c00001)", 0},
            {"Close(c00000) Open(c00000,7) Placed(c00000,7)", 0},
            {"Unplaced(8)", 1},
            {"Close(c00000)", 0},
        };
        EXPECT_EQ(feed(spec, text), expected) << depth << " loops";
    }
}

// ---------------------------------------------------------------------------------------------
// Many segment ids.

TEST(LargeSpec, SeventyThousandSegmentIdsOverTheBuiltinSpec) {
    // Short ids and ids of eight bytes or more, alternately; two of them join the claim loop.
    constexpr std::size_t count = 70'000;
    const auto id = [](std::size_t i) { return numbered(i % 2 == 0 ? "Z" : "ZLONG", i); };
    std::string patch = R"({"loops": {"2100": {"segments": ["CAS", "NM1", "MIA", "MOA", "REF",
        "DTM", "PER", "AMT", "QTY", ")" +
                        id(count - 2) + R"(", ")" + id(count - 1) + R"("]}}, "segments": {)";
    for (std::size_t i = 0; i < count; ++i) {
        patch += (i == 0 ? "\"" : ", \"") + id(i) +
                 R"(": {"elements": {"1": {"name": "x", "type": "N0"}}})";
    }
    patch += "}}";
    const auto merged = Spec::builtin_835()->merge_patch(patch);
    ASSERT_TRUE(merged.has_value()) << merged.error().to_string();
    const std::shared_ptr<const Spec> spec = *merged;

    const std::string text = "ST*835*0001~LX*1~CLP*A*1*10*5**12*P1~" + id(count - 2) + "*5~" +
                             id(count - 1) + "*X~" + id(0) + "*6~" + id(1) + "*7~SE*8*0001~";
    std::vector<std::string> lines;
    const std::vector<Step> steps = feed(spec, text, &lines);
    ASSERT_EQ(steps.size(), 9U);
    EXPECT_EQ(steps[3], (Step{"Placed(2100,3)", 0}));
    // The value is checked against the element's type.
    EXPECT_EQ(steps[4], (Step{"Placed(2100,4)", 1}));
    EXPECT_EQ(steps[5], (Step{"Unplaced(5)", 1}));
    EXPECT_EQ(steps[6], (Step{"Unplaced(6)", 1}));
    // Before them, the interchange and the group opened for the ST.
    ASSERT_EQ(lines.size(), 5U);
    const std::string at = " · at interchange#1/group#1/transaction#1/2000#1/2100#1 · datum ";
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
              (std::vector<std::string>{
                  "SNIP 2 · element ZLONG6999901 (x) is not a valid N0 (integer with 0 implied "
                  "decimals) · segment #4, element 1" +
                      at + "\"X\"",
                  "SNIP 1 · segment \"Z00000\" is not part of the structure: no open loop holds "
                  "it and it opens no loop · segment #5" +
                      at + "\"Z00000\"",
                  "SNIP 1 · segment \"ZLONG00001\" is not part of the structure: no open loop "
                  "holds it and it opens no loop · segment #6" +
                      at + "\"ZLONG00001\"",
              }));

    // The whole-document road numbers these ids too, with numbers of 32 bits.
    const Document document =
        Document::with_delimiters(Buffer::copy_of(text), Delimiters{}).value();
    const RunResult result = Processor::run(spec, document);
    std::vector<std::string> run;
    for (const Diagnostic& diagnostic : result.diagnostics) {
        run.push_back(diagnostic.to_string());
    }
    EXPECT_EQ(run, lines);
}

// ---------------------------------------------------------------------------------------------
// The id numbering behind the tables.

TEST(IdIndex, TensOfThousandsOfIdsKeepTheirNumbers) {
    // Past half of the packed table, and at eight bytes and more, ids are found by hash.
    IdIndex ids;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < 40'000; ++i) {
        names.push_back(numbered(i % 3 == 0 ? "L" : i % 3 == 1 ? "LONGER" : "", i));
        EXPECT_EQ(ids.add(names.back()), i);
    }
    EXPECT_EQ(ids.add(names[123]), 123U);
    EXPECT_EQ(ids.size(), names.size());
    for (std::uint32_t n = 0; n < names.size(); ++n) {
        ASSERT_EQ(ids.find(names[n]), n) << names[n];
        ASSERT_EQ(ids.name(n), names[n]);
        if (names[n].size() < IdIndex::kShort) {
            // The bytes after the id in the word are ignored.
            std::uint64_t word = 0x2A2A2A2A2A2A2A2Au;
            for (std::size_t b = 0; b < names[n].size(); ++b) {
                word &= ~(std::uint64_t{0xFF} << (8 * b));
                word |= std::uint64_t{static_cast<unsigned char>(names[n][b])} << (8 * b);
            }
            ASSERT_EQ(ids.find_short(names[n], word), n) << names[n];
        }
    }
    for (const std::string_view unknown : {"", "L", "L4000", "LONGER40001", "99999"}) {
        EXPECT_EQ(ids.find(unknown), IdIndex::unknown) << unknown;
    }
}

}  // namespace
