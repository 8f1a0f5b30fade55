// Random edits of a sound spec document: every edited text either loads into a spec that keeps
// the model's invariants or is refused with a message. Seeded, so every run is the same.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "spec/builtin.hpp"
#include "spec/spec.hpp"

namespace {

using nlohmann::json;
using remitrax::LoopId;
using remitrax::Spec;
using remitrax::SpecError;

constexpr std::string_view base_spec = R"({
    "name": "835 mutation base",
    "loops": {
        "ISA": {"trigger": {"segment": "ISA"}, "end": "IEA",
                "control": {"opener_element": 13, "closer_element": 2, "count_element": 1,
                            "count": "children"}},
        "GS": {"parent": "ISA", "trigger": {"segment": "GS"}, "end": "GE",
               "control": {"opener_element": 6, "closer_element": 2, "count_element": 1,
                           "count": "children"}},
        "ST": {"parent": "GS", "trigger": {"segment": "ST"}, "end": "SE",
               "segments": ["BPR", "TRN", "CUR", "REF", "DTM"],
               "control": {"opener_element": 2, "closer_element": 2, "count_element": 1,
                           "count": "segments"}},
        "1000A": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PR"}},
                  "segments": ["N3", "N4", "REF", "PER"]},
        "1000B": {"parent": "ST", "trigger": {"segment": "N1", "where": {"1": "PE"}},
                  "segments": ["N3", "N4", "REF", "RDM"]},
        "2000": {"parent": "ST", "trigger": {"segment": "LX"}, "segments": ["TS3", "TS2"]},
        "2100": {"parent": "2000", "trigger": {"segment": "CLP"},
                 "segments": ["CAS", "NM1", "MIA", "MOA", "REF", "DTM", "PER", "AMT", "QTY"]},
        "2110": {"parent": "2100", "trigger": {"segment": "SVC"},
                 "segments": ["DTM", "CAS", "REF", "AMT", "QTY", "LQ"]},
        "PLB": {"parent": "ST", "trigger": {"segment": "PLB", "where": {"1": "X", "10": "Y"}}}
    },
    "segments": {
        "BPR": {"elements": {
            "1": {"name": "handling", "type": "ID", "required": true, "codes": ["I", "H", "C"]},
            "2": {"name": "payment", "type": "R", "required": true, "max": 18},
            "16": {"name": "date", "type": "DT"}}},
        "CLP": {"elements": {
            "1": {"name": "claim_id", "type": "AN", "required": true, "min": 1, "max": 38},
            "2": {"name": "status", "type": "ID", "codes": ["1", "2", "3", "4", "19", "22"]},
            "3": {"name": "charge", "type": "R", "scale": 2},
            "5": {"name": "patient_share", "type": "R", "min": null}}},
        "SVC": {"elements": {
            "1": {"name": "procedure", "type": "AN", "required": true, "composite": {
                "1": {"name": "qualifier", "type": "ID", "codes": ["HC", "AD", "N4"]},
                "2": {"name": "code", "type": "AN", "max": 48},
                "3": {"name": "modifier", "type": "AN", "min": 2, "max": 2}}},
            "2": {"name": "charge", "type": "R"},
            "5": {"name": "units", "type": "N0"}}},
        "DTM": {"elements": {
            "1": {"name": "qualifier", "type": "ID", "codes": ["472", "150", "151"]},
            "2": {"name": "date", "type": "DT"},
            "3": {"name": "time", "type": "TM"}}},
        "LQ": {}
    }
})";

// Values of every kind, and the numbers and texts that compile steps care about.
json replacement(std::mt19937& rng) {
    static const std::vector<json> values = {
        nullptr,
        true,
        false,
        0,
        1,
        -1,
        255,
        256,
        19,
        1.5,
        2.0,
        json(std::uint64_t{18446744073709551615u}),
        json(std::int64_t{-9223372036854775807 - 1}),
        1e308,
        "",
        "0",
        "01",
        "+1",
        "R",
        "N9",
        "segments",
        "children",
        "LX",
        "SE",
        "ST",
        "2000",
        json::array(),
        json::array({""}),
        json::array({"A", "A"}),
        json::array({1, 2}),
        json::object(),
        json::object({{"1", "PR"}}),
        json::object({{"name", "x"}, {"type", "AN"}}),
        json::object({{"segment", "N1"}}),
    };
    return values[rng() % values.size()];
}

std::string key_text(std::mt19937& rng) {
    static const std::vector<std::string> keys = {
        "",          "0",     "01",      "+1",        "1",       "10",      "99999999999999999999",
        "name",      "type",  "codes",   "composite", "trigger", "parent",  "segments",
        "end",       "where", "control", "elements",  "tables",  "version", "bogus",
        "count",     "scale", "min",     "max",       "ISA",     "2100",    "a.b",
        "with space"};
    return keys[rng() % keys.size()];
}

// Every value in the tree, the root first.
void collect(json& value, std::vector<json*>& out) {
    out.push_back(&value);
    if (value.is_object() || value.is_array()) {
        for (auto& member : value) {
            collect(member, out);
        }
    }
}

void mutate(json& document, std::mt19937& rng) {
    std::vector<json*> nodes;
    collect(document, nodes);
    json& target = *nodes[rng() % nodes.size()];
    switch (rng() % 9) {
        case 0:  // delete a member
            if (target.is_object() && !target.empty()) {
                auto it = target.begin();
                std::advance(it, static_cast<std::ptrdiff_t>(rng() % target.size()));
                target.erase(it.key());
            } else if (target.is_array() && !target.empty()) {
                target.erase(rng() % target.size());
            }
            break;
        case 1:  // change the value, often its kind
            target = replacement(rng);
            break;
        case 2:  // insert a member, known or not
            if (target.is_object()) {
                target[key_text(rng)] = replacement(rng);
            } else if (target.is_array()) {
                target.push_back(replacement(rng));
            }
            break;
        case 3:  // rename a member
            if (target.is_object() && !target.empty()) {
                auto it = target.begin();
                std::advance(it, static_cast<std::ptrdiff_t>(rng() % target.size()));
                const std::string old_key = it.key();
                json moved = std::move(it.value());
                target.erase(old_key);
                target[key_text(rng)] = std::move(moved);
            }
            break;
        case 4: {  // nest deeply, as composites or plain arrays
            const std::size_t depth = 1 + rng() % 150;
            json nested = json::object({{"name", "deep"}, {"type", "AN"}});
            const bool arrays = rng() % 2 == 0;
            for (std::size_t i = 0; i < depth; ++i) {
                nested = arrays ? json::array({std::move(nested)})
                                : json::object({{"name", "n" + std::to_string(i)},
                                                {"type", "AN"},
                                                {"composite", {{"1", std::move(nested)}}}});
            }
            target = std::move(nested);
            break;
        }
        case 5:  // copy another value here
            target = *nodes[rng() % nodes.size()];
            break;
        case 6: {  // a text taken from elsewhere in the document: parents, ends, ids
            std::vector<const json*> texts;
            for (const json* node : nodes) {
                if (node->is_string()) {
                    texts.push_back(node);
                }
            }
            if (target.is_string() && !texts.empty()) {
                target = *texts[rng() % texts.size()];
            }
            break;
        }
        case 7: {  // rewire a loop: its parent or end becomes another loop's name or trigger
            json* loops =
                document.is_object() && document.contains("loops") ? &document["loops"] : nullptr;
            if (loops == nullptr || !loops->is_object() || loops->empty()) {
                break;
            }
            std::vector<std::string> names;
            for (auto it = loops->begin(); it != loops->end(); ++it) {
                names.push_back(it.key());
                const json& trigger =
                    it.value().is_object() ? it.value().value("trigger", json()) : json();
                if (trigger.is_object() && trigger.value("segment", json()).is_string()) {
                    names.push_back(trigger["segment"].get<std::string>());
                }
            }
            json& loop = (*loops)[names[rng() % names.size()]];
            if (loop.is_object() || loop.is_null()) {
                loop[rng() % 2 == 0 ? "parent" : "end"] = names[rng() % names.size()];
            }
            break;
        }
        default:  // an empty or zero value of the same kind
            if (target.is_string()) {
                target = "";
            } else if (target.is_number()) {
                target = 0;
            } else if (target.is_object() || target.is_array()) {
                target.clear();
            }
            break;
    }
}

// Text edits that no value tree can hold: invalid UTF-8 inside a string, a cut.
void mutate_text(std::string& text, std::mt19937& rng) {
    if (text.empty()) {
        return;
    }
    switch (rng() % 3) {
        case 0: {
            const std::size_t quote = text.find('"', rng() % text.size());
            if (quote != std::string::npos) {
                text.insert(quote + 1, rng() % 2 == 0 ? "\xff" : "\xc3");
            }
            break;
        }
        case 1:
            text.resize(rng() % text.size());
            break;
        default:
            text.insert(rng() % text.size(), 1, static_cast<char>(rng() % 256));
            break;
    }
}

// The invariants every compiled spec keeps.
void check_invariants(const Spec& spec) {
    const std::size_t n = spec.loops.size();
    ASSERT_GT(n, 0u);
    std::vector<LoopId> roots;
    std::vector<std::vector<LoopId>> children(n);
    for (LoopId id = 0; id < n; ++id) {
        const auto& loop = spec.loops[id];
        if (id > 0) {
            ASSERT_LT(spec.loops[id - 1].name, loop.name);
        }
        ASSERT_EQ(spec.loop_id(loop.name), std::optional<LoopId>(id));
        ASSERT_FALSE(loop.trigger.segment.empty());
        ASSERT_TRUE(std::is_sorted(loop.trigger.conditions.begin(), loop.trigger.conditions.end()));
        ASSERT_TRUE(!loop.control || loop.end);
        if (loop.parent) {
            ASSERT_LT(*loop.parent, n);
            children[*loop.parent].push_back(id);
        } else {
            roots.push_back(id);
        }
        // Terminates, and never lists the loop itself.
        const auto ancestors = spec.ancestors(id);
        ASSERT_LT(ancestors.size(), n);
        ASSERT_EQ(std::count(ancestors.begin(), ancestors.end(), id), 0);
    }
    ASSERT_EQ(spec.roots, roots);
    for (LoopId id = 0; id < n; ++id) {
        ASSERT_EQ(spec.loops[id].children, children[id]);
    }
    for (const auto& [id, elements] : spec.segments) {
        ASSERT_FALSE(id.empty());
        for (const auto& [position, def] : elements) {
            ASSERT_GT(position, 0u);
            ASSERT_FALSE(def.name.empty());
            ASSERT_TRUE(std::is_sorted(def.codes.begin(), def.codes.end()));
            ASSERT_EQ(std::adjacent_find(def.codes.begin(), def.codes.end()), def.codes.end());
            ASSERT_TRUE(def.composite.empty() || def.type.kind == remitrax::ElementKind::AN);
            for (const auto& [component, part] : def.composite) {
                ASSERT_GT(component, 0u);
                ASSERT_TRUE(part.composite.empty());
            }
        }
    }
}

TEST(SpecMutation, EditedDocumentsLoadOrFailWithAMessage) {
    const json base = json::parse(base_spec);
    {
        const auto spec = Spec::from_value(base);
        ASSERT_TRUE(spec.has_value()) << spec.error().to_string();
        check_invariants(**spec);
    }
    std::mt19937 rng(20240611);
    std::size_t loaded = 0;
    std::set<std::size_t> variants;
    for (int round = 0; round < 5000; ++round) {
        json document = base;
        const std::size_t edits = 1 + rng() % 3;
        for (std::size_t i = 0; i < edits; ++i) {
            mutate(document, rng);
        }
        std::string text = document.dump();
        if (rng() % 8 == 0) {
            mutate_text(text, rng);
        }
        const auto spec = Spec::from_json(text);
        if (spec) {
            ++loaded;
            ASSERT_NE(*spec, nullptr);
            check_invariants(**spec);
            if (::testing::Test::HasFatalFailure()) {
                FAIL() << "round " << round << ": " << text;
            }
        } else {
            variants.insert(spec.error().kind.index());
            ASSERT_FALSE(spec.error().to_string().empty()) << "round " << round << ": " << text;
            ASSERT_FALSE(spec.error().debug().empty()) << "round " << round;
        }
    }
    // The edits reach both outcomes and most kinds of refusal.
    EXPECT_GT(loaded, 250u);
    EXPECT_LT(loaded, 4750u);
    EXPECT_GE(variants.size(), 13u) << ::testing::PrintToString(variants);
}

// Builds a merge patch that changes one place of `document`: deletes it (null), gives it a
// value of another kind, or copies it under a new key beside itself.
json random_patch(const json& document, std::mt19937& rng) {
    std::vector<std::string> path;
    std::reference_wrapper<const json> at = document;
    while (at.get().is_object() && !at.get().empty() && (path.empty() || rng() % 4 != 0)) {
        const auto& members = at.get().get_ref<const json::object_t&>();
        auto member = members.begin();
        std::advance(member, static_cast<std::ptrdiff_t>(rng() % members.size()));
        path.push_back(member->first);
        at = std::cref(member->second);
    }
    if (path.empty()) {
        return json::object();
    }
    json change;
    switch (rng() % 4) {
        case 0:
            change = nullptr;
            break;
        case 1: {
            static const json kinds[] = {json(0),
                                         json(-1),
                                         json(2.5),
                                         json("x"),
                                         json(""),
                                         json::array(),
                                         json::array({"a", "a"}),
                                         json(true),
                                         json::object(),
                                         json(18446744073709551615u)};
            change = kinds[rng() % std::size(kinds)];
            break;
        }
        default:
            // A copy under a new key: a duplicate loop, segment, element, table or column.
            path.back() += rng() % 2 == 0 ? "2" : "_copy";
            change = at.get();
            break;
    }
    json patch = change;
    for (auto key = path.rbegin(); key != path.rend(); ++key) {
        patch = json{{*key, std::move(patch)}};
    }
    return patch;
}

TEST(SpecMutation, PatchesOfTheBuiltinSpecLoadOrFailWithAMessage) {
    const auto builtin = Spec::builtin_835();
    check_invariants(*builtin);
    const json source = json::parse(remitrax::builtin::spec_835());
    std::mt19937 rng(835);
    std::size_t loaded = 0;
    for (int round = 0; round < 2000; ++round) {
        json patch = json::object();
        for (std::size_t i = 1 + rng() % 2; i > 0; --i) {
            patch.merge_patch(random_patch(source, rng));
        }
        const std::string text = patch.dump();
        const auto spec = builtin->merge_patch(text);
        if (spec) {
            ++loaded;
            check_invariants(**spec);
            ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "round " << round << ": " << text;
        } else {
            ASSERT_TRUE(std::holds_alternative<SpecError::Patch>(spec.error().kind)) << text;
            const std::string message = spec.error().to_string();
            ASSERT_TRUE(message.starts_with("applying patch: ")) << message;
            ASSERT_GT(message.size(), std::string_view("applying patch: ").size()) << text;
        }
    }
    // Both outcomes are reached: some edits are harmless, most break a rule.
    EXPECT_GT(loaded, 100u);
    EXPECT_LT(loaded, 1900u);
}

}  // namespace
