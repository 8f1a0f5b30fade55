// nanoarrow, built from its PyPI sources under our namespace, describes every Arrow type
// that tables are exported as.
#include <gtest/gtest.h>

#include <nanoarrow/nanoarrow.h>

#include <string>

namespace {

TEST(Nanoarrow, BuildsTheExportedColumnTypes) {
    ArrowSchema schema;
    ArrowSchemaInit(&schema);
    ASSERT_EQ(ArrowSchemaSetTypeStruct(&schema, 5), NANOARROW_OK);
    ASSERT_EQ(ArrowSchemaSetType(schema.children[0], NANOARROW_TYPE_BINARY), NANOARROW_OK);
    ASSERT_EQ(ArrowSchemaSetType(schema.children[1], NANOARROW_TYPE_INT64), NANOARROW_OK);
    ASSERT_EQ(ArrowSchemaSetTypeDecimal(schema.children[2], NANOARROW_TYPE_DECIMAL128, 38, 2),
              NANOARROW_OK);
    ASSERT_EQ(ArrowSchemaSetType(schema.children[3], NANOARROW_TYPE_DATE32), NANOARROW_OK);
    ASSERT_EQ(ArrowSchemaSetTypeDateTime(schema.children[4], NANOARROW_TYPE_TIME32,
                                         NANOARROW_TIME_UNIT_SECOND, nullptr),
              NANOARROW_OK);
    const char* names[] = {"payer", "amount_cents", "amount", "paid_on", "paid_at"};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(ArrowSchemaSetName(schema.children[i], names[i]), NANOARROW_OK);
    }

    const char* formats[] = {"z", "l", "d:38,2", "tdD", "tts"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(std::string(schema.children[i]->format), formats[i]) << names[i];
        ArrowSchemaView view;
        ArrowError error;
        EXPECT_EQ(ArrowSchemaViewInit(&view, schema.children[i], &error), NANOARROW_OK)
            << error.message;
    }
    schema.release(&schema);
}

}  // namespace
