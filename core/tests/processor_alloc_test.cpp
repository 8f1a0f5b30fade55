// What the processor allocates per segment once warm. Allocations are counted by replacing
// the global allocation functions, so this test lives in its own executable.
//
// Rows are kept in growing column buffers, so an input fed again without a take still makes
// the columns reallocate now and then; the measure is the number of allocations per segment
// over a long input, which a per-segment allocation anywhere on the path would bring to 1 or
// more.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/buffer.hpp"
#include "counting_new.hpp"
#include "golden_input.hpp"
#include "process/processor.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"
#include "x12/segment.hpp"

namespace {

using remitrax::Buffer;
using remitrax::Document;
using remitrax::Processor;
using remitrax::Segment;
using remitrax::Spec;

// A hundred copies of one interchange written for the project: 6,000 segments that give rows
// of payments, claims, services and adjustments, and in which the built-in spec finds nothing.
std::string repeated_input() {
    return remitrax::testing::repeated(remitrax::testing::golden_input("pipe_component_dental.835"),
                                       100);
}

// Every segment of the document, parsed once, so that feeding them allocates nothing more.
std::vector<Segment> segments_of(const Document& document) {
    std::vector<Segment> segments;
    for (std::size_t i = 0; i < document.size(); ++i) {
        segments.push_back(*document.segment(i));
    }
    return segments;
}

// Feeds every segment and ends the input; the number of diagnostics given.
std::size_t pass(Processor& processor, const std::vector<Segment>& segments) {
    std::size_t found = 0;
    for (const Segment& segment : segments) {
        found += processor.feed(segment).diagnostics.size();
    }
    return found + processor.finish().diagnostics.size();
}

TEST(ProcessorAlloc, FeedingAWarmProcessorAllocatesOnlyForColumnGrowth) {
    const std::string text = repeated_input();
    ASSERT_FALSE(text.empty());
    const auto document = Document::parse(Buffer::copy_of(text));
    ASSERT_TRUE(document.has_value());
    const std::vector<Segment> segments = segments_of(*document);
    ASSERT_GT(segments.size(), 5000U);

    Processor processor(Spec::builtin_835(), document->delimiters());
    // Four passes without a take: the columns hold four copies of every row, and the fifth
    // pass crosses at most one doubling of each buffer.
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(pass(processor, segments), 0U);
    }
    const std::size_t before = remitrax::testing::allocation_count();
    ASSERT_EQ(pass(processor, segments), 0U);
    const std::size_t made = remitrax::testing::allocation_count() - before;
    std::size_t columns = 0;
    const remitrax::Tables tables = processor.take_tables();
    for (const remitrax::Table& table : tables) {
        columns += table.columns().size();
    }
    const double per_segment = static_cast<double>(made) / static_cast<double>(segments.size());
    RecordProperty("allocations", static_cast<int>(made));
    RecordProperty("segments", static_cast<int>(segments.size()));
    // A column owns a few buffers (values, validity, text offsets and bytes), each doubling
    // at most once in the pass.
    EXPECT_LE(made, 4 * columns) << made << " allocations for " << columns << " columns";
    EXPECT_LT(per_segment, 0.05) << made << " allocations over " << segments.size() << " segments";
}

TEST(ProcessorAlloc, AWarmTakeIntoSpareTablesAllocatesNothing) {
    const std::string text = repeated_input();
    ASSERT_FALSE(text.empty());
    const auto document = Document::parse(Buffer::copy_of(text));
    ASSERT_TRUE(document.has_value());
    const std::vector<Segment> segments = segments_of(*document);
    Processor processor(Spec::builtin_835(), document->delimiters());
    // Two sets of tables go round, as in a stream whose batches are dropped: each take fills
    // the set taken the time before the last.
    ASSERT_EQ(pass(processor, segments), 0U);
    remitrax::Tables older = processor.take_tables();
    ASSERT_EQ(pass(processor, segments), 0U);
    remitrax::Tables last = processor.take_tables();
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(pass(processor, segments), 0U);
        remitrax::Tables taken = processor.take_tables(std::move(older));
        older = std::move(last);
        last = std::move(taken);
    }
    ASSERT_EQ(pass(processor, segments), 0U);
    const std::size_t before = remitrax::testing::allocation_count();
    remitrax::Tables taken = processor.take_tables(std::move(older));
    const std::size_t made = remitrax::testing::allocation_count() - before;
    EXPECT_EQ(made, 0U);
    // Each pass makes the same rows, and they are all in the take.
    const auto rows = [](const remitrax::Tables& tables) {
        std::size_t count = 0;
        for (const remitrax::Table& table : tables) {
            count += table.rows();
        }
        return count;
    };
    EXPECT_GT(rows(taken), 0U);
    EXPECT_EQ(rows(taken), rows(last));
}

TEST(ProcessorAlloc, RunGrowsOnlyItsColumnsWithTheInput) {
    const std::string once = repeated_input();
    ASSERT_FALSE(once.empty());
    const auto spec = Spec::builtin_835();
    // Allocations and segments of one run over `copies` copies of the input.
    const auto measure = [&](int copies) {
        std::string text;
        for (int i = 0; i < copies; ++i) {
            text += once;
        }
        const auto document = Document::parse(Buffer::copy_of(text));
        EXPECT_TRUE(document.has_value());
        const std::size_t before = remitrax::testing::allocation_count();
        const remitrax::RunResult result = Processor::run(spec, *document);
        const std::size_t made = remitrax::testing::allocation_count() - before;
        EXPECT_TRUE(result.diagnostics.empty());
        return std::pair{made, document->size()};
    };
    const auto [small, small_segments] = measure(2);
    const auto [large, large_segments] = measure(4);
    RecordProperty("allocations_small", static_cast<int>(small));
    RecordProperty("allocations_large", static_cast<int>(large));
    RecordProperty("segments_added", static_cast<int>(large_segments - small_segments));
    // Twice the input adds about one doubling per column buffer and nothing per segment.
    const double per_segment =
        static_cast<double>(large - small) / static_cast<double>(large_segments - small_segments);
    EXPECT_LT(per_segment, 0.05) << small << " allocations for " << small_segments << " segments, "
                                 << large << " for " << large_segments;
}

}  // namespace
