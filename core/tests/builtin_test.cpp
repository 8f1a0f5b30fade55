// The built-in specs and patches, and choosing among them by what a file declares.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sample_folder.hpp"
#include "spec/builtin.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"
#include "x12/tokenizer.hpp"

namespace remitrax {
namespace {

std::vector<std::string> loop_names(const Spec& spec, const std::vector<LoopId>& ids) {
    std::vector<std::string> out;
    for (const LoopId id : ids) {
        out.push_back(spec.loops.at(id).name);
    }
    return out;
}

std::vector<std::string> table_names(const Spec& spec, const std::vector<TableIndex>& ids) {
    std::vector<std::string> out;
    for (const TableIndex id : ids) {
        out.push_back(spec.tables.at(id).name);
    }
    return out;
}

using Names = std::vector<std::string>;

TEST(Builtin, The835Spec) {
    const auto spec = Spec::builtin_835();
    EXPECT_EQ(spec->name, "835");
    Names loops;
    for (const auto& loop : spec->loops) {
        loops.push_back(loop.name);
    }
    EXPECT_EQ(loops, (Names{"1000A", "1000B", "2000", "2100", "2110", "group", "interchange",
                            "transaction"}));
    EXPECT_EQ(loop_names(*spec, spec->roots), (Names{"interchange"}));
    EXPECT_EQ(loop_names(*spec, spec->loops[7].children), (Names{"1000A", "1000B", "2000"}));
    EXPECT_EQ(spec->segments.size(), 30u);
    ASSERT_TRUE(spec->version);
    EXPECT_EQ(spec->version->segment, "GS");
    EXPECT_EQ(spec->version->element, 8u);
    EXPECT_EQ(spec->version->values, (Names{"005010X221A1"}));

    // Tables in name order, with the row references their nesting gives them.
    const std::map<std::string, Names> ancestors = {
        {"adjustments", {"payments", "claims", "services"}},
        {"claims", {"payments"}},
        {"payments", {}},
        {"provider_adjustments", {"payments"}},
        {"services", {"payments", "claims"}},
    };
    ASSERT_EQ(spec->tables.size(), ancestors.size());
    auto expected = ancestors.begin();
    for (const auto& table : spec->tables) {
        EXPECT_EQ(table.name, expected->first);
        EXPECT_EQ(table_names(*spec, table.ancestors), expected->second) << table.name;
        ++expected;
    }
    const auto& adjustments = spec->tables[0];
    EXPECT_EQ(loop_names(*spec, adjustments.loops), (Names{"2100", "2110"}));
    EXPECT_EQ(adjustments.segment, "CAS");
    ASSERT_TRUE(adjustments.repeat);
    EXPECT_EQ(adjustments.repeat->from, 2u);
    EXPECT_EQ(adjustments.repeat->step, 3u);
    ASSERT_TRUE(spec->tables[3].repeat);
    EXPECT_EQ(spec->tables[3].repeat->from, 3u);
    EXPECT_EQ(spec->tables[3].repeat->step, 2u);
}

TEST(Builtin, The4010Spec) {
    const auto spec = Spec::builtin_835_4010();
    EXPECT_EQ(spec->name, "835");
    EXPECT_EQ(spec->loops.size(), 8u);
    EXPECT_EQ(spec->segments.size(), 29u);
    EXPECT_FALSE(spec->segments.contains("RDM"));
    EXPECT_EQ(spec->loops[1].name, "1000B");
    EXPECT_EQ(spec->loops[1].segments, (Names{"N3", "N4", "REF"}));
    ASSERT_TRUE(spec->version);
    EXPECT_EQ(spec->version->values, (Names{"004010X091A1", "004010X091", "004010"}));
    EXPECT_EQ(spec->tables.size(), 5u);

    const ElementDef* charge = spec->element_def("CLP", 2);
    ASSERT_NE(charge, nullptr);
    EXPECT_TRUE(charge->codes.empty());
    for (const std::uint64_t position : {6u, 7u, 8u, 9u, 10u, 11u, 12u, 14u, 16u, 19u}) {
        const ElementDef* amount = spec->element_def("TS3", position);
        ASSERT_NE(amount, nullptr) << position;
        EXPECT_EQ(amount->type.kind, ElementKind::R) << position;
        EXPECT_EQ(amount->min, 1u) << position;
        EXPECT_EQ(amount->max, 18u) << position;
    }
    EXPECT_EQ(spec->element_def("ST", 3), nullptr);
}

TEST(Builtin, CompatibilityPatch) {
    const std::string_view text = builtin::tabulon_patch();
    EXPECT_EQ(text.size(), 5925u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 118);
    EXPECT_TRUE(text.starts_with("{\n"));
    EXPECT_TRUE(text.ends_with("}\n"));
    EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; }));

    const auto patched = Spec::builtin_835()->merge_patch(text);
    ASSERT_TRUE(patched) << patched.error().to_string();
    const Spec& spec = **patched;
    EXPECT_EQ(spec.name, "tabulon");
    EXPECT_EQ(spec.tables.size(), 17u);
    std::map<std::string, std::string> refs;
    for (const auto& table : spec.tables) {
        refs[table.name] = table.ref;
    }
    for (const char* gone :
         {"adjustments", "claims", "payments", "provider_adjustments", "services"}) {
        EXPECT_FALSE(refs.contains(gone)) << gone;
    }
    EXPECT_EQ(refs["rows"], "service");
    EXPECT_EQ(refs["rows_claims"], "claim");
    EXPECT_EQ(refs["rows_payments"], "payment");
    EXPECT_EQ(refs["rows_organizations"], "organization");
    EXPECT_EQ(refs["rows_interchanges"], "interchange");
}

TEST(Builtin, WrittenBackAsSortedJson) {
    for (const auto& spec : {Spec::builtin_835(), Spec::builtin_835_4010()}) {
        const std::string text = spec->to_json();
        EXPECT_TRUE(text.starts_with("{\n  \"loops\": {\n    \"1000A\": {\n"));
        EXPECT_FALSE(text.ends_with("\n"));
        const auto again = Spec::from_json(text);
        ASSERT_TRUE(again) << again.error().to_string();
        EXPECT_EQ((*again)->source, spec->source);
        EXPECT_EQ((*again)->tables, spec->tables);
    }
    EXPECT_EQ(nlohmann::json::parse(builtin::spec_835()), Spec::builtin_835()->source);
}

// The id a file declares in its first GS segment, read independently of the selection.
std::string first_gs08(const std::string& bytes) {
    auto tokenizer = Tokenizer::create(bytes);
    if (!tokenizer) {
        return "";
    }
    while (const auto segment = tokenizer->next()) {
        if (segment->id() == "GS") {
            const auto elements = segment->elements();
            if (elements.size() < 8 || elements[7].is_composite()) {
                return "";
            }
            return std::string(elements[7].value().bytes());
        }
    }
    return "";
}

TEST(Builtin, SelectionOverSampleFiles) {
    REMITRAX_SKIP_WITHOUT_SAMPLES();
    const std::filesystem::path folder = testing::sample_folder();
    const auto v5010 = Spec::builtin_835();
    const auto v4010 = Spec::builtin_835_4010();
    const Spec* const candidates[] = {v5010.get(), v4010.get()};
    std::map<std::string, std::string> chosen_by_file;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string bytes(entry.file_size(), '\0');
        std::ifstream in(entry.path(), std::ios::binary);
        ASSERT_TRUE(in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
        const std::string declared = first_gs08(bytes);
        const Spec* expected =
            declared == "004010X091A1" || declared == "004010X091" || declared == "004010"
                ? v4010.get()
                : v5010.get();
        const auto name = entry.path().filename().string();

        if (auto tokenizer = Tokenizer::create(bytes)) {
            EXPECT_EQ(&Spec::select(candidates, *v5010, std::move(*tokenizer)), expected) << name;
        }
        if (auto document = Document::parse(Buffer::copy_of(bytes))) {
            const Spec& chosen = Spec::select(candidates, *v5010, document->segments());
            EXPECT_EQ(&chosen, expected) << name;
            chosen_by_file[name] = &chosen == v4010.get() ? "4010" : "5010";
        }
    }
    EXPECT_EQ(chosen_by_file["oop_4010_example1_bom_crlf_indent.txt"], "4010");
    EXPECT_EQ(chosen_by_file["lfh_managed_care.835"], "5010");
    EXPECT_EQ(chosen_by_file["oop_5010dir_example1_gs08_5010.txt"], "5010");
    EXPECT_EQ(chosen_by_file["oop_4010_deident_01.dat"], "5010");
}

}  // namespace
}  // namespace remitrax
