// Feeding the loop engine allocates nothing once its lists have grown. Allocations are counted
// by replacing the global allocation functions, so this test lives in its own executable.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "base/buffer.hpp"
#include "counting_new.hpp"
#include "engine/engine.hpp"
#include "golden_input.hpp"
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

// Each input written for the project, once and as a file of a hundred copies of it.
TEST(LoopEngineAlloc, SecondPassOverAFileAllocatesNothing) {
    const auto spec = Spec::builtin_835();
    for (const char* name : {"three_transactions_plb_only.835", "gt_component_separator.835",
                             "pipe_component_dental.835", "institutional_ts3_mia_moa.835",
                             "4010_bom_crlf_indent.835", "4010_simple_crlf.835"}) {
        const std::string once = remitrax::testing::golden_input(name);
        for (const std::size_t copies : {1U, 100U}) {
            SCOPED_TRACE(std::string(name) + " x" + std::to_string(copies));
            const auto document =
                Document::parse(Buffer::copy_of(remitrax::testing::repeated(once, copies)));
            ASSERT_TRUE(document.has_value());
            std::vector<Segment> segments;
            for (std::size_t i = 0; i < document->size(); ++i) {
                segments.push_back(*document->segment(i));
            }

            LoopEngine engine(*spec);
            const std::size_t warm = pass(engine, segments);
            const std::size_t before = remitrax::testing::allocation_count();
            const std::size_t again = pass(engine, segments);
            const std::size_t made = remitrax::testing::allocation_count() - before;
            EXPECT_EQ(made, 0U);
            EXPECT_EQ(again, warm);
            EXPECT_GT(warm, segments.size() / 2);
        }
    }
}

}  // namespace
