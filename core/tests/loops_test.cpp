// Loop compilation: trigger conditions, the per-loop checks and their order, controls, parent
// cycles and the text form of triggers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spec/loops.hpp"
#include "spec/records.hpp"

namespace {

using remitrax::check_cycles;
using remitrax::compile_control;
using remitrax::compile_loop;
using remitrax::Control;
using remitrax::ControlCount;
using remitrax::LoopDef;
using remitrax::RawControl;
using remitrax::render_trigger;
using remitrax::SpecError;
using remitrax::Trigger;

const std::vector<std::string> names = {"1000A", "2000", "2100", "2110"};

std::expected<LoopDef, SpecError> compile(std::string_view loop, std::string_view name = "2000") {
    auto raw = remitrax::read_loop(nlohmann::json::parse(loop));
    EXPECT_TRUE(raw.has_value()) << loop;
    if (!raw) {
        return std::unexpected(SpecError{SpecError::Json{raw.error().message}});
    }
    return compile_loop(name, *raw, names);
}

// Loops with the given parents (indexes), named by their index.
std::vector<LoopDef> tree(const std::vector<std::optional<std::size_t>>& parents,
                          const std::vector<std::string>& loop_names) {
    std::vector<LoopDef> loops;
    for (std::size_t i = 0; i < parents.size(); ++i) {
        loops.push_back(LoopDef{parents[i], loop_names[i], {"LX", {}}, {}, {}, {}, {}});
    }
    return loops;
}

TEST(Loops, CompiledLoopKeepsItsRecord) {
    const auto loop = compile(R"({
        "parent": "1000A", "trigger": {"segment": "CLP"}, "segments": ["CAS", "NM1", "CAS"],
        "end": "SE", "control": {"opener_element": 2, "closer_element": 3, "count_element": 1,
                                 "count": "children"}})",
                              "2100");
    ASSERT_TRUE(loop.has_value()) << loop.error().to_string();
    EXPECT_EQ(loop->name, "2100");
    EXPECT_EQ(loop->parent, std::optional<std::size_t>(0));
    EXPECT_EQ(loop->trigger, (Trigger{"CLP", {}}));
    EXPECT_EQ(loop->segments, (std::vector<std::string>{"CAS", "NM1", "CAS"}));
    EXPECT_TRUE(loop->children.empty());
    EXPECT_EQ(loop->end, std::optional<std::string>("SE"));
    EXPECT_EQ(loop->control, (Control{2, 3, 1, ControlCount::Children}));

    const auto plain = compile(R"({"trigger": {"segment": "LX"}, "parent": null, "end": null})");
    ASSERT_TRUE(plain.has_value()) << plain.error().to_string();
    EXPECT_EQ(plain->parent, std::nullopt);
    EXPECT_TRUE(plain->segments.empty());
    EXPECT_EQ(plain->end, std::nullopt);
    EXPECT_EQ(plain->control, std::nullopt);

    // A parent resolves to its index among the sorted names, itself included.
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto child =
            compile(R"({"trigger": {"segment": "LX"}, "parent": ")" + names[i] + "\"}");
        ASSERT_TRUE(child.has_value());
        EXPECT_EQ(child->parent, std::optional<std::size_t>(i));
    }
}

TEST(Loops, ConditionsAreSortedByPosition) {
    const struct {
        std::string_view where;
        std::vector<std::pair<std::uint64_t, std::string>> conditions;
    } cases[] = {
        {R"({})", {}},
        {R"({"1": "85"})", {{1, "85"}}},
        {R"({"10": "a", "9": "b"})", {{9, "b"}, {10, "a"}}},
        {R"({"2": "x", "100": "y", "11": "z", "1": ""})",
         {{1, ""}, {2, "x"}, {11, "z"}, {100, "y"}}},
    };
    for (const auto& c : cases) {
        const auto loop =
            compile(R"({"trigger": {"segment": "NM1", "where": )" + std::string(c.where) + "}}");
        ASSERT_TRUE(loop.has_value()) << c.where;
        EXPECT_EQ(loop->trigger.conditions, c.conditions) << c.where;
    }
}

TEST(Loops, RefusalsAndTheirTexts) {
    const struct {
        std::string_view loop;
        std::string_view message;
    } cases[] = {
        {R"({"trigger": {"segment": ""}})",
         R"(loop "2000" has an empty segment id at trigger.segment)"},
        {R"({"trigger": {"segment": "LX"}, "segments": ["N1", ""]})",
         R"(loop "2000" has an empty segment id at segments[1])"},
        {R"({"trigger": {"segment": "LX"}, "segments": ["", "N1", ""]})",
         R"(loop "2000" has an empty segment id at segments[0])"},
        {R"({"trigger": {"segment": "LX"}, "end": ""})",
         R"(loop "2000" has an empty segment id at end)"},
        {R"({"trigger": {"segment": "LX"}, "end": "LX"})",
         R"(loop "2000" has "end" "LX", the same segment as its "trigger": the loop would close on the segment that opens it)"},
        {R"({"trigger": {"segment": "LX"}, "parent": "1000"})",
         R"(loop "2000" names unknown parent "1000")"},
        {R"({"trigger": {"segment": "LX"}, "parent": "2000 "})",
         R"(loop "2000" names unknown parent "2000 ")"},
        {R"({"trigger": {"segment": "LX"}, "parent": ""})",
         R"(loop "2000" names unknown parent "")"},
        {R"({"trigger": {"segment": "NM1", "where": {"01": "QC"}}})",
         R"(loop "2000" has an invalid "where" position "01": positions are 1-based integers written in canonical form)"},
        {R"({"trigger": {"segment": "NM1", "where": {"0": "QC"}}})",
         R"(loop "2000" has an invalid "where" position "0": positions are 1-based integers written in canonical form)"},
        {R"({"trigger": {"segment": "NM1", "where": {"1": "QC", "01": "QC", "+1": "QC"}}})",
         R"(loop "2000" has an invalid "where" position "+1": positions are 1-based integers written in canonical form)"},
        {R"({"trigger": {"segment": "NM1", "where": {"a\tb": "QC"}}})",
         R"(loop "2000" has an invalid "where" position "a\tb": positions are 1-based integers written in canonical form)"},
        {R"({"trigger": {"segment": "ST"}, "control": {"opener_element": 0,
             "closer_element": 0, "count_element": 0, "count": "bad"}})",
         R"(loop "2000" has an invalid "control": the loop has no "end" segment to check)"},
        {R"({"trigger": {"segment": "ST"}, "end": "SE", "control": {"opener_element": 0,
             "closer_element": 2, "count_element": 0, "count": "segments"}})",
         R"(loop "2000" has an invalid "control": "opener_element" must be a 1-based element position; found 0)"},
        {R"({"trigger": {"segment": "ST"}, "end": "SE", "control": {"opener_element": 1,
             "closer_element": 0, "count_element": 0, "count": "nope"}})",
         R"(loop "2000" has an invalid "control": "closer_element" must be a 1-based element position; found 0)"},
        {R"({"trigger": {"segment": "ST"}, "end": "SE", "control": {"opener_element": 1,
             "closer_element": 2, "count_element": 0, "count": "nope"}})",
         R"(loop "2000" has an invalid "control": "count_element" must be a 1-based element position; found 0)"},
        {R"({"trigger": {"segment": "ST"}, "end": "SE", "control": {"opener_element": 2,
             "closer_element": 2, "count_element": 1, "count": "Segments"}})",
         R"(loop "2000" has an invalid "control": "count" must be "segments" or "children"; found "Segments")"},
        {R"({"trigger": {"segment": "ST"}, "end": "SE", "control": {"opener_element": 2,
             "closer_element": 2, "count_element": 1, "count": " children"}})",
         R"(loop "2000" has an invalid "control": "count" must be "segments" or "children"; found " children")"},
        {R"({"trigger": {"segment": "ST"}, "end": "SE", "control": {"opener_element": 2,
             "closer_element": 2, "count_element": 1, "count": ""}})",
         R"(loop "2000" has an invalid "control": "count" must be "segments" or "children"; found "")"},
    };
    for (const auto& c : cases) {
        const auto loop = compile(c.loop);
        ASSERT_FALSE(loop.has_value()) << c.loop;
        EXPECT_EQ(loop.error().to_string(), c.message);
    }
}

TEST(Loops, ChecksRunInTheirOrder) {
    // Every loop below has all the faults of the checks after the one reported.
    const struct {
        std::string_view loop;
        std::string_view message;
    } cases[] = {
        {R"({"trigger": {"segment": "", "where": {"0": "x"}}, "segments": [""], "end": "",
             "parent": "nowhere", "control": {"opener_element": 0, "closer_element": 0,
             "count_element": 0, "count": ""}})",
         R"(loop "2000" has an empty segment id at trigger.segment)"},
        {R"({"trigger": {"segment": "LX", "where": {"0": "x"}}, "segments": [""], "end": "",
             "parent": "nowhere"})",
         R"(loop "2000" has an empty segment id at segments[0])"},
        {R"({"trigger": {"segment": "LX", "where": {"0": "x"}}, "end": "", "parent": "nowhere"})",
         R"(loop "2000" has an empty segment id at end)"},
        {R"({"trigger": {"segment": "LX", "where": {"0": "x"}}, "end": "LX",
             "parent": "nowhere", "control": {"opener_element": 1, "closer_element": 1,
             "count_element": 1, "count": "segments"}})",
         R"(loop "2000" has "end" "LX", the same segment as its "trigger": the loop would close on the segment that opens it)"},
        {R"({"trigger": {"segment": "LX", "where": {"0": "x"}}, "end": "SE",
             "parent": "nowhere", "control": {"opener_element": 0, "closer_element": 1,
             "count_element": 1, "count": "segments"}})",
         R"(loop "2000" names unknown parent "nowhere")"},
        {R"({"trigger": {"segment": "LX", "where": {"0": "x"}}, "end": "SE",
             "parent": "2000", "control": {"opener_element": 0, "closer_element": 1,
             "count_element": 1, "count": "segments"}})",
         R"(loop "2000" has an invalid "where" position "0": positions are 1-based integers written in canonical form)"},
    };
    for (const auto& c : cases) {
        const auto loop = compile(c.loop);
        ASSERT_FALSE(loop.has_value()) << c.loop;
        EXPECT_EQ(loop.error().to_string(), c.message);
    }
}

TEST(Loops, CompileControl) {
    const struct {
        RawControl raw;
        bool has_end;
        std::optional<Control> control;
        std::string_view message;  // when refused
    } cases[] = {
        {{1, 2, 3, "segments"}, true, Control{1, 2, 3, ControlCount::Segments}, ""},
        {{2, 2, 1, "children"}, true, Control{2, 2, 1, ControlCount::Children}, ""},
        {{1, 2, 3, "segments"}, false, {}, R"(the loop has no "end" segment to check)"},
        {{0, 0, 0, "x"}, false, {}, R"(the loop has no "end" segment to check)"},
        {{0, 1, 0, "segments"},
         true,
         {},
         R"("opener_element" must be a 1-based element position; found 0)"},
        {{1, 0, 0, "segments"},
         true,
         {},
         R"("closer_element" must be a 1-based element position; found 0)"},
        {{1, 1, 0, "x"},
         true,
         {},
         R"("count_element" must be a 1-based element position; found 0)"},
        {{1, 1, 1, "CHILDREN"},
         true,
         {},
         R"("count" must be "segments" or "children"; found "CHILDREN")"},
        {{1, 1, 1, "segments\n"},
         true,
         {},
         R"("count" must be "segments" or "children"; found "segments\n")"},
    };
    for (const auto& c : cases) {
        const auto control = compile_control(c.raw, c.has_end);
        if (c.control) {
            ASSERT_TRUE(control.has_value()) << c.raw.count;
            EXPECT_EQ(*control, *c.control);
        } else {
            ASSERT_FALSE(control.has_value()) << c.raw.count;
            EXPECT_EQ(control.error().to_string(), c.message);
        }
    }
}

TEST(Loops, CycleCheckReportsTheFirstCycleInWalkOrder) {
    const struct {
        std::vector<std::optional<std::size_t>> parents;
        std::string_view message;  // empty when there is no cycle
    } cases[] = {
        {{std::nullopt, 0, 1, 1, 0}, ""},
        {{}, ""},
        {{0}, "loops form a parent cycle: L0 -> L0"},
        {{std::nullopt, 1}, "loops form a parent cycle: L1 -> L1"},
        {{1, 0}, "loops form a parent cycle: L0 -> L1 -> L0"},
        // A leads into the cycle B, C without being part of it.
        {{1, 2, 1}, "loops form a parent cycle: L1 -> L2 -> L1"},
        // The cycle met from the lowest start loop wins over a later one.
        {{std::nullopt, 3, 4, 2, 3, 5}, "loops form a parent cycle: L3 -> L2 -> L4 -> L3"},
        {{std::nullopt, 0, 3, 3, 5, 4}, "loops form a parent cycle: L3 -> L3"},
        {{3, 2, 1, 2}, "loops form a parent cycle: L2 -> L1 -> L2"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> loop_names;
        for (std::size_t i = 0; i < c.parents.size(); ++i) {
            loop_names.push_back("L" + std::to_string(i));
        }
        const auto checked = check_cycles(tree(c.parents, loop_names));
        if (c.message.empty()) {
            EXPECT_TRUE(checked.has_value()) << checked.error().to_string();
        } else {
            ASSERT_FALSE(checked.has_value()) << c.message;
            EXPECT_EQ(checked.error().to_string(), c.message);
        }
    }
}

TEST(Loops, CycleCheckOfLongChains) {
    // Each loop's parent is the next one; a chain this long stays fast, and closing it makes
    // every loop a member, in walk order.
    constexpr std::size_t n = 20000;
    std::vector<std::optional<std::size_t>> parents(n);
    std::vector<std::string> loop_names(n);
    for (std::size_t i = 0; i < n; ++i) {
        parents[i] = i + 1 < n ? std::optional<std::size_t>(i + 1) : std::nullopt;
        loop_names[i] = std::to_string(i);
    }
    EXPECT_TRUE(check_cycles(tree(parents, loop_names)).has_value());
    parents[n - 1] = 0;
    const auto checked = check_cycles(tree(parents, loop_names));
    ASSERT_FALSE(checked.has_value());
    const auto* cycle = std::get_if<SpecError::Cycle>(&checked.error().kind);
    ASSERT_NE(cycle, nullptr);
    ASSERT_EQ(cycle->members.size(), n);
    EXPECT_EQ(cycle->members.front(), "0");
    EXPECT_EQ(cycle->members.back(), std::to_string(n - 1));
}

TEST(Loops, RenderTrigger) {
    const struct {
        Trigger trigger;
        std::string_view text;
    } cases[] = {
        {{"LX", {}}, R"("LX" with no conditions)"},
        {{"NM1", {{1, "85"}}}, R"("NM1" where {1: "85"})"},
        {{"NM1", {{1, "QC"}, {10, "a\"b"}}}, R"("NM1" where {1: "QC", 10: "a\"b"})"},
        {{"N1", {{2, ""}}}, R"("N1" where {2: ""})"},
        // Invalid UTF-8 is replaced, not escaped.
        {{"N\xff", {{1, "a\xc3"}}}, "\"N\xef\xbf\xbd\" where {1: \"a\xef\xbf\xbd\"}"},
        {{"REF", {{3, "\t"}}}, R"("REF" where {3: "\t"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(render_trigger(c.trigger), c.text);
    }
}

}  // namespace
