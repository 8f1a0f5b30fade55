// Which loop a segment opens, and the load-time refusal of sibling loops that could both
// open on one segment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "spec/loops.hpp"
#include "spec/spec.hpp"
#include "x12/segment.hpp"

namespace {

using namespace std::literals;
using remitrax::Delimiters;
using remitrax::Frame;
using remitrax::LoopId;
using remitrax::Segment;
using remitrax::Spec;
using remitrax::SpecError;
using remitrax::Trigger;

constexpr std::uint64_t max_position = std::numeric_limits<std::uint64_t>::max();

Segment parse(std::string_view body, std::optional<char> release = std::nullopt) {
    Segment segment;
    segment.reparse(0, Frame{body, body, false}, Delimiters{'*', ':', '~', '^', release});
    return segment;
}

std::string spec_of(std::string_view loops) {
    return R"({"name": "t", "loops": {)" + std::string(loops) + "}}";
}

std::shared_ptr<const Spec> load(std::string_view loops) {
    auto spec = Spec::from_json(spec_of(loops));
    EXPECT_TRUE(spec.has_value()) << (spec ? "" : spec.error().to_string());
    return spec ? *spec : nullptr;
}

// The loop's name, or "none".
std::string name_of(const Spec& spec, std::optional<LoopId> loop) {
    return loop ? spec.loops[*loop].name : "none";
}

TEST(TriggerMatch, ComparesIdAndSimpleElementBytes) {
    const struct {
        std::string_view segment;
        std::vector<std::pair<std::uint64_t, std::string>> conditions;
        std::string_view body;
        std::optional<char> release;
        bool matches;
    } cases[] = {
        {"CLP", {{1, "X"}}, "CLP*X", {}, true},
        {"CLP", {{1, "X"}}, "CLP*X:Y", {}, false},
        {"CLP", {{1, "X"}}, "CLP*X:", {}, false},
        {"CLP", {{1, "X"}}, "CLP", {}, false},
        {"CLP", {{1, "X"}}, "CLP*Y", {}, false},
        {"CLP", {{1, "X"}}, "CLP*XY", {}, false},
        {"CLP", {{1, "XY"}}, "CLP*X", {}, false},
        {"CLP", {{1, "X"}}, "CLP*X*Z", {}, true},
        {"CLP", {{1, "X"}}, "CL*X", {}, false},
        {"CLP", {{1, "X"}}, "CLPX*X", {}, false},
        {"CLP", {{1, "X"}}, "clp*X", {}, false},
        {"CLP", {{1, "X"}}, "", {}, false},
        // Without conditions the id alone decides.
        {"N1", {}, "N1", {}, true},
        {"N1", {}, "N1*A:B*", {}, true},
        {"N1", {}, "N2", {}, false},
        {"N1", {}, "N1 ", {}, false},
        {"N1", {{3, "Z"}}, "N1*A*B", {}, false},
        {"N1", {{3, "Z"}}, "N1*A*B*Z", {}, true},
        {"N1", {{1, "PR"}, {2, "A"}}, "N1*PR*A", {}, true},
        {"N1", {{1, "PR"}, {2, "A"}}, "N1*PR*B", {}, false},
        {"N1", {{1, "PR"}, {2, "A"}}, "N1*PE*A", {}, false},
        // An empty value needs a present, empty element.
        {"N1", {{2, ""}}, "N1*A*", {}, true},
        {"N1", {{2, ""}}, "N1*A", {}, false},
        {"N1", {{2, ""}}, "N1*A*B", {}, false},
        {"N1", {{1, ""}}, "N1*:", {}, false},
        // Positions that no element can have.
        {"N1", {{0, "N1"}}, "N1*N1", {}, false},
        {"N1", {{0, ""}}, "N1*", {}, false},
        {"N1", {{max_position, ""}}, "N1*", {}, false},
        {"N1", {{max_position, "A"}}, "N1*A*A", {}, false},
        {"N1", {{(std::uint64_t{1} << 32) + 1, "A"}}, "N1*A", {}, false},
        // Values are compared after release characters are removed; ids as written.
        {"N1", {{1, "A*B"}}, "N1*A?*B", '?', true},
        {"N1", {{1, "A?*B"}}, "N1*A?*B", '?', false},
        {"N1", {{1, "A:B"}}, "N1*A?:B", '?', true},
        {"N?1", {{1, "A"}}, "N?1*A", '?', true},
        {"N1", {{1, "A\0B"s}}, "N1*A\0B"sv, {}, true},
        {"N1", {{1, "A\0B"s}}, "N1*A\0C"sv, {}, false},
        {"N1", {{1, "A"}}, "N1*A\0"sv, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.body << " against " << c.segment << " with "
                                        << c.conditions.size() << " conditions");
        const Trigger trigger{std::string(c.segment), c.conditions};
        EXPECT_EQ(trigger.matches(parse(c.body, c.release)), c.matches);
    }
}

TEST(TriggerSelection, ChildWithMostConditionsWins) {
    const auto spec = load(R"(
        "ST": {"trigger": {"segment": "ST"}},
        "A": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR"}}},
        "B": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR", "3": "XX"}}},
        "C": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PE"}}},
        "D": {"parent": "ST", "trigger": {"segment": "N1"}},
        "E": {"parent": "ST", "trigger": {"segment": "CLP"}},
        "F": {"parent": "B", "trigger": {"segment": "N1", "where": {"1": "PR"}}})");
    // The same pair of triggers with the more specific one first.
    const auto reversed = load(R"(
        "ST": {"trigger": {"segment": "ST"}},
        "A": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR", "3": "XX"}}},
        "B": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR"}}})");
    ASSERT_NE(spec, nullptr);
    ASSERT_NE(reversed, nullptr);
    // Every fixture is a spec the ambiguity check accepts.
    EXPECT_TRUE(spec->check_ambiguity().has_value());
    EXPECT_TRUE(reversed->check_ambiguity().has_value());

    const struct {
        const Spec* spec;
        std::optional<std::string_view> parent;
        std::string_view body;
        std::string_view opens;
    } cases[] = {
        {spec.get(), "ST", "N1*PR*Q*XX", "B"},
        {spec.get(), "ST", "N1*PR*Q*YY", "A"},
        {spec.get(), "ST", "N1*PR", "A"},
        {spec.get(), "ST", "N1*PE*Q*XX", "C"},
        {spec.get(), "ST", "N1*ZZ*Q*XX", "D"},
        {spec.get(), "ST", "N1*PR:1*Q*XX", "D"},
        {spec.get(), "ST", "N1", "D"},
        {spec.get(), "ST", "CLP*PR", "E"},
        {spec.get(), "ST", "LX*1", "none"},
        {spec.get(), "ST", "ST*835", "none"},
        {spec.get(), "B", "N1*PR*Q*XX", "F"},
        {spec.get(), "B", "N1*PE", "none"},
        {spec.get(), "A", "N1*PR", "none"},
        {spec.get(), std::nullopt, "ST*835", "ST"},
        {spec.get(), std::nullopt, "N1*PR", "none"},
        {reversed.get(), "ST", "N1*PR*Q*XX", "A"},
        {reversed.get(), "ST", "N1*PR*Q*YY", "B"},
        {reversed.get(), "ST", "N1*PR", "B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.body << " under " << c.parent.value_or("the root"));
        const std::optional<LoopId> parent =
            c.parent ? c.spec->loop_id(*c.parent) : std::optional<LoopId>();
        ASSERT_EQ(c.parent.has_value(), parent.has_value());
        EXPECT_EQ(name_of(*c.spec, c.spec->matching_child(parent, parse(c.body))), c.opens);
    }
}

TEST(TriggerSelection, TiesGoToTheEarliestCandidate) {
    // Equally specific loops that both match can only be in different sibling lists; a
    // search over every loop still has to pick one.
    const auto spec = load(R"(
        "P": {"trigger": {"segment": "ST"}},
        "Q": {"trigger": {"segment": "BPR"}},
        "A": {"parent": "Q", "trigger": {"segment": "N1", "where": {"2": "X"}}},
        "B": {"parent": "P", "trigger": {"segment": "N1", "where": {"1": "PR"}}},
        "C": {"parent": "Q", "trigger": {"segment": "N1"}},
        "D": {"parent": "P", "trigger": {"segment": "N1"}})");
    ASSERT_NE(spec, nullptr);
    EXPECT_TRUE(spec->check_ambiguity().has_value());
    const auto id = [&](std::string_view name) { return *spec->loop_id(name); };
    const std::vector<LoopId> without_a{id("B"), id("C"), id("D")};
    const std::vector<LoopId> plain{id("C"), id("D")};

    const struct {
        std::string_view body;
        std::string_view over_all;
        std::string_view over_without_a;
        std::string_view over_plain;
    } cases[] = {
        {"N1*PR*X", "A", "B", "C"}, {"N1*PE*X", "A", "C", "C"}, {"N1*PR*Y", "B", "B", "C"},
        {"N1*PE*Y", "C", "C", "C"}, {"N1", "C", "C", "C"},      {"N2*PR*X", "none", "none", "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const Segment segment = parse(c.body);
        EXPECT_EQ(name_of(*spec, spec->best_match(std::views::iota(LoopId{0}, spec->loops.size()),
                                                  segment)),
                  c.over_all);
        EXPECT_EQ(name_of(*spec, spec->best_match(without_a, segment)), c.over_without_a);
        EXPECT_EQ(name_of(*spec, spec->best_match(std::span<const LoopId>(plain), segment)),
                  c.over_plain);
    }
    EXPECT_EQ(spec->best_match(std::vector<LoopId>{}, parse("N1")), std::nullopt);
}

// The text of the first ambiguity among the loops, or "accepted". Loading may run the check
// itself, so a refused load counts as the check's answer.
std::string ambiguity(std::string_view loops) {
    const auto spec = Spec::from_json(spec_of(loops));
    if (!spec) {
        return spec.error().to_string();
    }
    const auto checked = (*spec)->check_ambiguity();
    return checked ? "accepted" : checked.error().to_string();
}

TEST(TriggerAmbiguity, SiblingPairs) {
    const struct {
        std::string_view loops;
        std::string_view result;
    } cases[] = {
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PE"}}})",
         "accepted"},
        {R"("A": {"trigger": {"segment": "N1"}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PR"}}})",
         "accepted"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "B": {"trigger": {"segment": "N1"}})",
         "accepted"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PR", "3": "XX"}}})",
         "accepted"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR", "3": "XX"}}},
            "B": {"trigger": {"segment": "N1", "where": {"3": "XX"}}})",
         "accepted"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR", "2": "A"}}},
            "B": {"trigger": {"segment": "N1", "where": {"2": "B", "3": "C"}}})",
         "accepted"},
        {R"("A": {"trigger": {"segment": "N1"}}, "B": {"trigger": {"segment": "N2"}})", "accepted"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "B": {"trigger": {"segment": "N1", "where": {"3": "XX"}}})",
         R"(loops "A" and "B" under the root can open on the same segment: "A" on "N1" where {1: "PR"}, "B" on "N1" where {3: "XX"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        // The earlier loop is `a` whatever its trigger.
        {R"("ST": {"trigger": {"segment": "ST"}},
            "A": {"parent": "ST", "trigger": {"segment": "N1", "where": {"3": "XX"}}},
            "B": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR"}}})",
         R"(loops "A" and "B" under "ST" can open on the same segment: "A" on "N1" where {3: "XX"}, "B" on "N1" where {1: "PR"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR", "2": "A"}}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PR", "3": "C"}}})",
         R"(loops "A" and "B" under the root can open on the same segment: "A" on "N1" where {1: "PR", 2: "A"}, "B" on "N1" where {1: "PR", 3: "C"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        {R"("A": {"trigger": {"segment": "N1"}}, "B": {"trigger": {"segment": "N1"}})",
         R"(loops "A" and "B" under the root share the identical trigger "N1")"},
        {R"("ST": {"trigger": {"segment": "ST"}},
            "A": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "B": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR"}}})",
         R"(loops "A" and "B" under "ST" share the identical trigger "N1" where {1: "PR"})"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"3": "X\"Y", "1": "PR"}}},
            "B\n": {"trigger": {"segment": "N1", "where": {"1": "PR", "3": "X\"Y"}}})",
         R"(loops "A" and "B\n" under the root share the identical trigger "N1" where {1: "PR", 3: "X\"Y"})"},
        {R"("A": {"trigger": {"segment": "N1"}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "C": {"trigger": {"segment": "N1"}})",
         R"(loops "A" and "C" under the root share the identical trigger "N1")"},
        // Loops under different parents, or a root and a child, are never compared.
        {R"("P": {"trigger": {"segment": "ST"}}, "Q": {"trigger": {"segment": "BPR"}},
            "A": {"parent": "P", "trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "B": {"parent": "Q", "trigger": {"segment": "N1", "where": {"1": "PR"}}})",
         "accepted"},
        {R"("P": {"trigger": {"segment": "ST"}},
            "A": {"trigger": {"segment": "N1"}},
            "B": {"parent": "P", "trigger": {"segment": "N1"}},
            "C": {"parent": "B", "trigger": {"segment": "N1"}})",
         "accepted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loops);
        EXPECT_EQ(ambiguity(c.loops), c.result);
    }
}

TEST(TriggerAmbiguity, FirstOffendingPairIsReported) {
    const struct {
        std::string_view loops;
        std::string_view result;
    } cases[] = {
        // The roots come before every children list, even of lower LoopIds.
        {R"("X": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "Y": {"trigger": {"segment": "N1", "where": {"3": "XX"}}},
            "Z": {"trigger": {"segment": "ST"}},
            "A": {"parent": "Z", "trigger": {"segment": "N1"}},
            "B": {"parent": "Z", "trigger": {"segment": "N1"}})",
         R"(loops "X" and "Y" under the root can open on the same segment: "X" on "N1" where {1: "PR"}, "Y" on "N1" where {3: "XX"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        // Children lists go in their parent's LoopId order.
        {R"("M": {"trigger": {"segment": "ST"}},
            "N": {"trigger": {"segment": "BPR"}},
            "Y1": {"parent": "M", "trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "Y2": {"parent": "M", "trigger": {"segment": "N1", "where": {"3": "XX"}}},
            "B1": {"parent": "N", "trigger": {"segment": "N1"}},
            "B2": {"parent": "N", "trigger": {"segment": "N1"}})",
         R"(loops "Y1" and "Y2" under "M" can open on the same segment: "Y1" on "N1" where {1: "PR"}, "Y2" on "N1" where {3: "XX"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        // Within one list: the earlier loop ascending, then the later one.
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PE"}}},
            "C": {"trigger": {"segment": "N1", "where": {"3": "XX"}}},
            "D": {"trigger": {"segment": "N1", "where": {"3": "XX"}}})",
         R"(loops "A" and "C" under the root can open on the same segment: "A" on "N1" where {1: "PR"}, "C" on "N1" where {3: "XX"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "B": {"trigger": {"segment": "N1", "where": {"2": "Q"}}},
            "C": {"trigger": {"segment": "N1", "where": {"1": "PR"}}})",
         R"(loops "A" and "B" under the root can open on the same segment: "A" on "N1" where {1: "PR"}, "B" on "N1" where {2: "Q"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"2": "Q"}}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "C": {"trigger": {"segment": "N1", "where": {"1": "PR"}}})",
         R"(loops "A" and "B" under the root can open on the same segment: "A" on "N1" where {2: "Q"}, "B" on "N1" where {1: "PR"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PE"}}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "C": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "D": {"trigger": {"segment": "N1", "where": {"2": "Q"}}})",
         R"(loops "A" and "D" under the root can open on the same segment: "A" on "N1" where {1: "PE"}, "D" on "N1" where {2: "Q"}, no position they both test requires different values, and neither trigger is more specific than the other)"},
        {R"("A": {"trigger": {"segment": "N1", "where": {"1": "PE"}}},
            "B": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "C": {"trigger": {"segment": "N1", "where": {"1": "PR"}}},
            "D": {"trigger": {"segment": "N1", "where": {"1": "PE", "2": "Q"}}})",
         R"(loops "B" and "C" under the root share the identical trigger "N1" where {1: "PR"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loops);
        EXPECT_EQ(ambiguity(c.loops), c.result);
    }
}

TEST(TriggerAmbiguity, ConditionOrderDoesNotHideIdenticalTriggers) {
    // Loading lists conditions by position; a spec assembled by hand need not.
    Spec spec;
    const std::pair<std::string_view, Trigger> loops[] = {
        {"A", {"N1", {{1, "PR"}, {3, "XX"}}}},
        {"B", {"N1", {{3, "XX"}, {1, "PR"}}}},
        {"C", {"N1", {{3, "XX"}, {1, "PE"}}}},
    };
    for (const auto& [name, trigger] : loops) {
        remitrax::LoopDef loop;
        loop.name = name;
        loop.trigger = trigger;
        spec.loops.push_back(std::move(loop));
    }
    spec.roots = {0, 1, 2};
    const auto checked = spec.check_ambiguity();
    ASSERT_FALSE(checked.has_value());
    EXPECT_EQ(
        checked.error().to_string(),
        R"(loops "A" and "B" under the root share the identical trigger "N1" where {1: "PR", 3: "XX"})");
}

// How one sibling pair fares under the rule, taken step by step.
enum class PairRule { Fine, Identical, Overlapping };

PairRule pair_rule(const Trigger& a, const Trigger& b) {
    if (a.segment != b.segment) {
        return PairRule::Fine;
    }
    const auto within = [](const Trigger& x, const Trigger& y) {
        return std::ranges::all_of(x.conditions, [&](const auto& condition) {
            return std::ranges::find(y.conditions, condition) != y.conditions.end();
        });
    };
    if (a.conditions.size() == b.conditions.size() && within(a, b)) {
        return PairRule::Identical;
    }
    if (a.conditions.empty() || b.conditions.empty()) {
        return PairRule::Fine;
    }
    for (const auto& [position, value] : a.conditions) {
        for (const auto& [other_position, other_value] : b.conditions) {
            if (position == other_position && value != other_value) {
                return PairRule::Fine;
            }
        }
    }
    return within(a, b) || within(b, a) ? PairRule::Fine : PairRule::Overlapping;
}

// Every pair of the roots and then of each loop's children, in list order: the first faulty
// one's text, or "accepted".
std::string pairwise(const Spec& spec) {
    std::vector<std::span<const LoopId>> lists{spec.roots};
    for (const remitrax::LoopDef& loop : spec.loops) {
        lists.emplace_back(loop.children);
    }
    for (const std::span<const LoopId> list : lists) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            for (std::size_t j = i + 1; j < list.size(); ++j) {
                const remitrax::LoopDef& a = spec.loops[list[i]];
                const remitrax::LoopDef& b = spec.loops[list[j]];
                const auto parent =
                    a.parent ? std::optional(spec.loops[*a.parent].name) : std::nullopt;
                switch (pair_rule(a.trigger, b.trigger)) {
                    case PairRule::Fine:
                        break;
                    case PairRule::Identical:
                        return SpecError{SpecError::AmbiguousTrigger{a.name, b.name, parent,
                                                                     a.trigger.segment,
                                                                     a.trigger.conditions}}
                            .to_string();
                    case PairRule::Overlapping:
                        return SpecError{
                            SpecError::OverlappingTriggers{parent, a.name, b.name,
                                                           remitrax::render_trigger(a.trigger),
                                                           remitrax::render_trigger(b.trigger)}}
                            .to_string();
                }
            }
        }
    }
    return "accepted";
}

TEST(TriggerAmbiguity, ReportsThePairThatComparingEveryPairFindsFirst) {
    std::mt19937 random(835);
    const auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::map<std::string, int> outcomes;
    for (int round = 0; round < 4000; ++round) {
        // Half the specs test position 1 on every trigger, most of them with distinct values,
        // some also position 2, with fewer or more values than position 1; the others draw
        // conditions on three positions from two values, in any order, now and then one
        // position twice (which loading never produces).
        const bool one_position = round % 2 == 0;
        const std::size_t first_values = round % 4 == 0 ? 12 : 3;
        Spec spec;
        const std::size_t count = 2 + below(13);
        for (std::size_t id = 0; id < count; ++id) {
            remitrax::LoopDef loop;
            loop.name = "L" + std::to_string(10 + id);
            if (id > 0 && below(3) > 0) {
                loop.parent = below(std::min<std::size_t>(id, 2));
            }
            loop.trigger.segment = below(5) == 0 ? "N2" : "N1";
            if (one_position) {
                const auto letter = [&](std::size_t values) {
                    return std::string(1, "ABCDEFGHIJKL"[below(values)]);
                };
                loop.trigger.conditions.emplace_back(1, letter(first_values));
                if (round % 8 < 4 || below(4) == 0) {
                    loop.trigger.conditions.emplace_back(2, letter(15 - first_values));
                }
            } else {
                for (std::size_t n = below(4); n > 0; --n) {
                    loop.trigger.conditions.emplace_back(1 + below(3), below(2) == 0 ? "A" : "B");
                }
                if (below(8) > 0) {
                    std::ranges::sort(loop.trigger.conditions, {},
                                      [](const auto& condition) { return condition.first; });
                    const auto repeated = std::ranges::unique(
                        loop.trigger.conditions, {}, [](const auto& c) { return c.first; });
                    loop.trigger.conditions.erase(repeated.begin(), repeated.end());
                }
            }
            spec.loops.push_back(std::move(loop));
        }
        for (LoopId id = 0; id < count; ++id) {
            if (const auto parent = spec.loops[id].parent) {
                spec.loops[*parent].children.push_back(id);
            } else {
                spec.roots.push_back(id);
            }
        }
        const std::string expected = pairwise(spec);
        const auto checked = spec.check_ambiguity();
        ASSERT_EQ(checked ? "accepted" : checked.error().to_string(), expected) << round;
        const bool identical = expected.find(" share the identical trigger ") != std::string::npos;
        ++outcomes[expected == "accepted" ? "accepted" : identical ? "identical" : "overlapping"];
    }
    // Every outcome is met often, so the comparison covers each.
    EXPECT_GT(outcomes["accepted"], 400);
    EXPECT_GT(outcomes["identical"], 400);
    EXPECT_GT(outcomes["overlapping"], 400);
}

}  // namespace
