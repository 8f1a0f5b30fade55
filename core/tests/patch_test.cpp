// Patching a spec with JSON Merge Patch, and writing its document back as JSON.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "spec/spec.hpp"

namespace remitrax {
namespace {

constexpr const char* kBase = R"({
  "name": "base",
  "version": {"segment": "GS", "element": 8, "values": ["005010X221A1"]},
  "loops": {
    "transaction": {"trigger": {"segment": "ST"}, "end": "SE",
                    "control": {"opener_element": 2, "closer_element": 2,
                                "count_element": 1, "count": "segments"}},
    "2000": {"parent": "transaction", "trigger": {"segment": "LX"}}
  },
  "segments": {"LX": {"elements": {"1": {"name": "number", "type": "N0"}}}}
})";

std::shared_ptr<const Spec> load(const std::string& text) {
    auto spec = Spec::from_json(text);
    EXPECT_TRUE(spec) << spec.error().to_string();
    return spec ? *spec : nullptr;
}

std::string patch_error(const Spec& spec, const std::string& patch) {
    auto patched = spec.merge_patch(patch);
    if (patched) {
        return "patch applied";
    }
    return patched.error().to_string();
}

TEST(SpecPatch, MergePatchFollowsRfc7396) {
    struct Case {
        const char* target;
        const char* patch;
        const char* result;
    };
    const Case cases[] = {
        {R"({"a":"b"})", R"({"a":"c"})", R"({"a":"c"})"},
        {R"({"a":"b"})", R"({"b":"c"})", R"({"a":"b","b":"c"})"},
        {R"({"a":"b"})", R"({"a":null})", R"({})"},
        {R"({"a":"b","b":"c"})", R"({"a":null})", R"({"b":"c"})"},
        {R"({"a":["b"]})", R"({"a":"c"})", R"({"a":"c"})"},
        {R"({"a":"c"})", R"({"a":["b"]})", R"({"a":["b"]})"},
        {R"({"a":{"b":"c"}})", R"({"a":{"b":"d","c":null}})", R"({"a":{"b":"d"}})"},
        {R"({"a":[{"b":"c"}]})", R"({"a":[1]})", R"({"a":[1]})"},
        {R"(["a","b"])", R"(["c","d"])", R"(["c","d"])"},
        {R"({"a":"b"})", R"(["c"])", R"(["c"])"},
        {R"({"a":"foo"})", "null", "null"},
        {R"({"a":"foo"})", R"("bar")", R"("bar")"},
        {R"({"e":null})", R"({"a":1})", R"({"a":1,"e":null})"},
        {R"([1,2])", R"({"a":"b","c":null})", R"({"a":"b"})"},
        {R"({})", R"({"a":{"bb":{"ccc":null}}})", R"({"a":{"bb":{}}})"},
    };
    for (const auto& c : cases) {
        nlohmann::json target = nlohmann::json::parse(c.target);
        merge_patch(target, nlohmann::json::parse(c.patch));
        EXPECT_EQ(target, nlohmann::json::parse(c.result)) << c.target << " + " << c.patch;
    }
}

TEST(SpecPatch, MergesIntoTheKeptDocument) {
    const auto base = load(kBase);
    ASSERT_TRUE(base);

    const auto same = base->merge_patch("{}");
    ASSERT_TRUE(same);
    EXPECT_EQ((*same)->source, base->source);

    const auto unversioned = base->merge_patch(R"({"version": null})");
    ASSERT_TRUE(unversioned);
    EXPECT_FALSE((*unversioned)->version);
    EXPECT_FALSE((*unversioned)->source.contains("version"));
    EXPECT_TRUE(base->version) << "the patched spec must leave its origin unchanged";

    // Nulls inside a new member delete nothing; arrays are replaced whole.
    const auto renamed = base->merge_patch(
        R"({"name": "renamed", "loops": {"2100": {"parent": "2000", "end": null,
            "trigger": {"segment": "CLP"}}}, "version": {"values": ["A", "B"]}})");
    ASSERT_TRUE(renamed) << renamed.error().to_string();
    EXPECT_EQ((*renamed)->name, "renamed");
    EXPECT_EQ((*renamed)->loops.size(), 3u);
    EXPECT_FALSE((*renamed)->loops[1].end);
    EXPECT_EQ((*renamed)->version->values, (std::vector<std::string>{"A", "B"}));

    // A second patch builds on the merged document of the first.
    const auto twice = (*renamed)->merge_patch(R"({"loops": {"2100": null}})");
    ASSERT_TRUE(twice);
    EXPECT_EQ((*twice)->name, "renamed");
    EXPECT_EQ((*twice)->loops.size(), 2u);
}

TEST(SpecPatch, FailuresAreWrappedOnce) {
    const auto base = load(kBase);
    ASSERT_TRUE(base);
    EXPECT_EQ(patch_error(*base, R"({"loops": {"transaction": null}})"),
              "applying patch: loop \"2000\" names unknown parent \"transaction\"");
    EXPECT_EQ(patch_error(*base, "[]"),
              "applying patch: the spec must be a JSON object; found an array");
    EXPECT_EQ(patch_error(*base, "null"),
              "applying patch: the spec must be a JSON object; found null");
    const std::string broken = patch_error(*base, "{");
    EXPECT_EQ(broken.rfind("applying patch: invalid spec JSON: ", 0), 0u) << broken;
    EXPECT_NE(broken.find("line 1, column 2"), std::string::npos) << broken;

    const auto failed = base->merge_patch(R"({"version": {"element": 0}})");
    ASSERT_FALSE(failed);
    const auto* patch = std::get_if<SpecError::Patch>(&failed.error().kind);
    ASSERT_NE(patch, nullptr);
    ASSERT_NE(patch->source, nullptr);
    EXPECT_TRUE(std::holds_alternative<SpecError::BadVersion>(patch->source->kind));
}

TEST(SpecPatch, ToJsonLayout) {
    const auto spec = load(R"({"segments": {}, "name": "n\u00e9/\t\u0001",
        "loops": {"b": {"trigger": {"segment": "B", "where": {}}, "segments": []},
                  "a": {"trigger": {"segment": "A"}}},
        "version": {"values": ["x"], "segment": "GS", "element": 8}})");
    ASSERT_TRUE(spec);
    const std::string expected =
        "{\n"
        "  \"loops\": {\n"
        "    \"a\": {\n"
        "      \"trigger\": {\n"
        "        \"segment\": \"A\"\n"
        "      }\n"
        "    },\n"
        "    \"b\": {\n"
        "      \"segments\": [],\n"
        "      \"trigger\": {\n"
        "        \"segment\": \"B\",\n"
        "        \"where\": {}\n"
        "      }\n"
        "    }\n"
        "  },\n"
        "  \"name\": \"n\xc3\xa9/\\t\\u0001\",\n"
        "  \"segments\": {},\n"
        "  \"version\": {\n"
        "    \"element\": 8,\n"
        "    \"segment\": \"GS\",\n"
        "    \"values\": [\n"
        "      \"x\"\n"
        "    ]\n"
        "  }\n"
        "}";
    EXPECT_EQ(spec->to_json(), expected);

    const auto again = Spec::from_json(spec->to_json());
    ASSERT_TRUE(again);
    EXPECT_EQ((*again)->source, spec->source);
}

// Each step of loading runs only when the earlier ones passed: segments, then the declared
// version, then sibling triggers, then tables.
TEST(SpecPipeline, ReportsTheFirstErrorInStepOrder) {
    const std::string ambiguous = R"("a": {"trigger": {"segment": "A"}},
                                     "b": {"trigger": {"segment": "A"}})";
    const std::string sound = R"("a": {"trigger": {"segment": "A"}})";
    const std::string bad_version = R"("version": {"segment": "GS", "element": 0, "values": []})";
    const std::string bad_table = R"("tables": {"t": {"loops": ["nowhere"]}})";
    const std::string bad_segment = R"("segments": {"X": {"elements": {"01": {"name": "n",
                                       "type": "AN"}}}})";
    const auto load_error = [](const std::string& loops, const std::vector<std::string>& rest) {
        std::string text = R"({"name": "p", "loops": {)" + loops + "}";
        for (const auto& member : rest) {
            text += ", " + member;
        }
        text += "}";
        const auto spec = Spec::from_json(text);
        return spec ? std::string("loaded") : spec.error().to_string();
    };
    const std::string segment_error =
        "segment \"X\" element \"01\": positions are 1-based integers written in canonical form";
    const std::string version_error =
        "the spec's \"version\" is invalid: \"element\" is 0; positions are 1-based";
    const std::string ambiguity_error =
        "loops \"a\" and \"b\" under the root share the identical trigger \"A\"";
    const std::string table_error = "table \"t\": loop \"nowhere\" does not exist";

    EXPECT_EQ(load_error(ambiguous, {bad_segment, bad_version, bad_table}), segment_error);
    EXPECT_EQ(load_error(ambiguous, {bad_version, bad_table}), version_error);
    EXPECT_EQ(load_error(ambiguous, {bad_table}), ambiguity_error);
    EXPECT_EQ(load_error(sound, {bad_table}), table_error);
    EXPECT_EQ(load_error(sound, {}), "loaded");
    EXPECT_EQ(load_error(R"("a": {"trigger": {"segment": "A"}, "parent": "a"})", {bad_segment}),
              "loops form a parent cycle: a -> a");
}

}  // namespace
}  // namespace remitrax
