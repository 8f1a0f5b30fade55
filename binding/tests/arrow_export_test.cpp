// The Arrow export of a table: buffers that are views of the column storage and keep the
// tables alive, the schema's types, and the refusals.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "arrow.hpp"
#include "column/table.hpp"

namespace remitrax::binding::arrow {
namespace {

std::shared_ptr<const Tables> sample_tables(ColumnType amount_type = ColumnType::decimal128(38,
                                                                                            2)) {
    const std::vector<ColumnSchema> schema = {
        {"id", ColumnType::binary()},  {"cents", ColumnType::int64(2)}, {"amount", amount_type},
        {"day", ColumnType::date32()}, {"at", ColumnType::time32()},
    };
    Table payments("payments", schema);
    const std::vector<Cell> first = {cell::Bytes("A1"), cell::Int{1234}, cell::Decimal{-250},
                                     cell::Date{20000}, cell::Time{3600}};
    const std::vector<Cell> second = {cell::Null{}, cell::Int{5}, cell::Decimal{0}, cell::Date{0},
                                      cell::Time{0}};
    EXPECT_TRUE(payments.push_row(first).has_value());
    EXPECT_TRUE(payments.push_row(second).has_value());
    Table empty("zero", schema);  // after "payments" in name order
    return std::make_shared<const Tables>(
        std::vector<Table>{std::move(payments), std::move(empty)});
}

TEST(ArrowExport, SchemaNamesEveryColumnWithItsTypeAndMetadata) {
    auto tables = sample_tables();
    auto schema = arrow::schema(tables, 0);
    ASSERT_TRUE(schema.has_value()) << schema.error();
    ArrowSchema* s = schema->get();
    EXPECT_STREQ(s->format, "+s");
    EXPECT_STREQ(s->name, "");
    EXPECT_EQ(s->flags, 0);
    ASSERT_EQ(s->n_children, 5);
    const char* formats[] = {"z", "l", "d:38,2", "tdD", "tts"};
    const char* names[] = {"id", "cents", "amount", "day", "at"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(s->children[i]->format, formats[i]);
        EXPECT_STREQ(s->children[i]->name, names[i]);
        EXPECT_EQ(s->children[i]->flags, ARROW_FLAG_NULLABLE);
        EXPECT_EQ(s->children[i]->metadata == nullptr, i != 1) << names[i];
    }
    ArrowStringView scale;
    ASSERT_EQ(ArrowMetadataGetValue(s->children[1]->metadata, ArrowCharView("scale"), &scale),
              NANOARROW_OK);
    EXPECT_EQ(std::string(scale.data, static_cast<std::size_t>(scale.size_bytes)), "2");
}

TEST(ArrowExport, ArrayBuffersAreTheColumnsOwnAndHoldTheTables) {
    auto tables = sample_tables();
    const Table& payments = tables->tables()[0];
    auto exported = arrow::array(tables, 0);
    ASSERT_TRUE(exported.has_value()) << exported.error();
    ArrowArray* batch = exported->array.get();
    EXPECT_EQ(batch->length, 2);
    ASSERT_EQ(batch->n_children, 5);

    const ColumnData& id = payments.columns()[0].data;
    const auto& binary = std::get<ColumnData::Binary>(id.values);
    EXPECT_EQ(batch->children[0]->null_count, 1);
    EXPECT_EQ(batch->children[0]->buffers[0], id.validity.data());
    EXPECT_EQ(batch->children[0]->buffers[1], binary.offsets.data());
    EXPECT_EQ(batch->children[0]->buffers[2], binary.data.data());
    const ColumnData& amount = payments.columns()[2].data;
    EXPECT_EQ(batch->children[2]->null_count, 0);
    EXPECT_EQ(batch->children[2]->buffers[0], nullptr);
    EXPECT_EQ(batch->children[2]->buffers[1],
              std::get<ColumnData::Decimal128>(amount.values).values.data());

    // Each buffer holds a reference: the tables outlive this scope's own.
    const long holders = tables.use_count();
    EXPECT_GT(holders, 1);
    std::weak_ptr<const Tables> weak = tables;
    tables.reset();
    EXPECT_FALSE(weak.expired());
    exported = arrow::array(weak.lock(), 1);  // the first export goes, and its references
    ASSERT_TRUE(exported.has_value());
    EXPECT_EQ(exported->array.get()->length, 0);
    for (std::int64_t i = 0; i < exported->array.get()->n_children; ++i) {
        ArrowArray* column = exported->array.get()->children[i];
        for (std::int64_t b = 1; b < column->n_buffers; ++b) {
            EXPECT_NE(column->buffers[b], nullptr) << "column " << i << " buffer " << b;
        }
    }
    exported = std::unexpected(std::string("dropped"));
    EXPECT_TRUE(weak.expired());
}

TEST(ArrowExport, StreamGivesOneBatchThenEnds) {
    auto exported = arrow::stream(sample_tables(), 0);
    ASSERT_TRUE(exported.has_value()) << exported.error();
    ArrowArrayStream* stream = exported->get();
    Schema schema;
    ASSERT_EQ(stream->get_schema(stream, schema.get()), 0);
    EXPECT_EQ(schema.get()->n_children, 5);
    Array first;
    ASSERT_EQ(stream->get_next(stream, first.get()), 0);
    ASSERT_NE(first.get()->release, nullptr);
    EXPECT_EQ(first.get()->length, 2);
    Array end;
    ASSERT_EQ(stream->get_next(stream, end.get()), 0);
    EXPECT_EQ(end.get()->release, nullptr);
}

TEST(ArrowExport, RefusalsNameTheTable) {
    auto tables = sample_tables();
    EXPECT_EQ(arrow::schema(tables, 2).error(), "table #2 is gone");
    EXPECT_EQ(arrow::array(tables, 7).error(), "table #7 is gone");
    EXPECT_EQ(arrow::stream(tables, 2).error(), "table #2 is gone");

    auto wide = sample_tables(ColumnType::decimal128(38, 200));
    const std::string refusal =
        "table \"payments\" could not be exported to Arrow: Invalid argument error: decimal "
        "scale 200 does not fit Arrow's i8 scale";
    EXPECT_EQ(arrow::schema(wide, 0).error(), refusal);
    EXPECT_EQ(arrow::array(wide, 0).error(), refusal);
    EXPECT_EQ(arrow::stream(wide, 0).error(), refusal);
}

}  // namespace
}  // namespace remitrax::binding::arrow
