// Feeding the loop engine allocates nothing once its lists have grown. Allocations are counted
// by replacing the global allocation functions, so this test lives in its own executable.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "base/buffer.hpp"
#include "counting_new.hpp"
#include "engine/engine.hpp"
#include "sample_folder.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"
#include "x12/segment.hpp"

namespace {

using remitrax::Buffer;
using remitrax::Document;
using remitrax::EventKind;
using remitrax::LoopEngine;
using remitrax::Segment;
using remitrax::Spec;

// Feeds every segment and ends the input; the number of Placed events.
std::size_t pass(LoopEngine& engine, const std::vector<Segment>& segments) {
    std::size_t placed = 0;
    for (const Segment& segment : segments) {
        for (const auto& event : engine.feed(segment)) {
            if (event.kind() == EventKind::Placed) {
                ++placed;
            }
        }
    }
    engine.close_all();
    return placed;
}

TEST(LoopEngineAlloc, SecondPassOverAFileAllocatesNothing) {
    const auto spec = Spec::builtin_835();
    const std::filesystem::path samples = remitrax::testing::sample_folder();
    for (const char* name :
         {"tp_profee_multiple_156isa.edi", "oop_4010_deident_02_large_6st.dat"}) {
        std::ifstream in(samples / name, std::ios::binary);
        ASSERT_TRUE(in) << name;
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        const auto document = Document::parse(Buffer::copy_of(text));
        ASSERT_TRUE(document.has_value()) << name;
        std::vector<Segment> segments;
        for (std::size_t i = 0; i < document->size(); ++i) {
            segments.push_back(*document->segment(i));
        }

        LoopEngine engine(*spec);
        const std::size_t warm = pass(engine, segments);
        const std::size_t before = remitrax::testing::allocation_count();
        const std::size_t again = pass(engine, segments);
        const std::size_t made = remitrax::testing::allocation_count() - before;
        EXPECT_EQ(made, 0u) << name;
        EXPECT_EQ(again, warm) << name;
        EXPECT_GT(warm, segments.size() / 2) << name;
    }
}

}  // namespace
