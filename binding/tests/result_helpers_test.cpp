// What the Result helpers compute, over tables built by hand: the lookups and their
// refusals, the organization, distinct patients and the overflow-checked sum.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "column/table.hpp"
#include "result_helpers.hpp"

namespace remitrax::binding::result_helpers {
namespace {

constexpr Int128 kMax = std::numeric_limits<Int128>::max();
constexpr Int128 kMin = std::numeric_limits<Int128>::min();

Tables payments(std::vector<Cell> amounts, ColumnType type = ColumnType::decimal128(38, 2)) {
    const std::vector<ColumnSchema> schema = {{"total_payment_amount", type}};
    Table table("payments", schema);
    for (const Cell& amount : amounts) {
        EXPECT_TRUE(table.push_row(std::vector<Cell>{amount}).has_value());
    }
    return Tables(std::vector<Table>{std::move(table)});
}

TEST(ResultHelpers, SumsSkipNullsAndStopAtTheFirstOverflow) {
    EXPECT_EQ(sum_payments(payments({cell::Decimal{1000}, cell::Null{}, cell::Decimal{-250}})),
              "7.50");
    EXPECT_EQ(sum_payments(payments({})), "0.00");
    EXPECT_EQ(sum_payments(payments({cell::Decimal{kMin}, cell::Decimal{kMax}})), "-0.01");
    const auto overflow = sum_payments(
        payments({cell::Decimal{kMax}, cell::Decimal{0}, cell::Decimal{1}, cell::Decimal{5}}));
    ASSERT_FALSE(overflow.has_value());
    EXPECT_EQ(overflow.error().kind, Error::Kind::Value);
    EXPECT_EQ(overflow.error().message,
              "Result.sum_payments: the sum of \"total_payment_amount\" in the table "
              "\"payments\" overflows a 128-bit decimal at row 2 (amount 0.01)");
    const auto below = sum_payments(
        payments({cell::Decimal{kMin}, cell::Decimal{-300}}, ColumnType::decimal128(38, 0)));
    ASSERT_FALSE(below.has_value());
    EXPECT_NE(below.error().message.find("at row 1 (amount -300)"), std::string::npos);

    const auto typed = sum_payments(payments({cell::Int{5}}, ColumnType::int64(2)));
    ASSERT_FALSE(typed.has_value());
    EXPECT_EQ(typed.error().kind, Error::Kind::Type);
    EXPECT_EQ(typed.error().message,
              "Result.sum_payments reads \"total_payment_amount\" of the table \"payments\" as "
              "a decimal; it is int64 (scale 2)");
}

TEST(ResultHelpers, LookupsNameEveryTableAndColumn) {
    const Tables tables = payments({cell::Decimal{1}});
    const auto claims = count_claims(tables);
    ASSERT_FALSE(claims.has_value());
    EXPECT_EQ(claims.error().kind, Error::Kind::Key);
    EXPECT_EQ(claims.error().message,
              "Result.count_claims reads the table \"claims\"; the tables are: payments");
    const auto payer = organization(tables, "payer");
    ASSERT_FALSE(payer.has_value());
    EXPECT_EQ(payer.error().message,
              "Result.payer reads the column \"payer_name\" of the table \"payments\"; its "
              "columns are: total_payment_amount");
    EXPECT_EQ(table(Tables(), "payee", "payments").error().message,
              "Result.payee reads the table \"payments\"; the tables are: ");
}

TEST(ResultHelpers, PatientsAreDistinctStoredBytes) {
    const std::vector<ColumnSchema> schema = {{"patient_id", ColumnType::binary()}};
    Table claims("claims", schema);
    for (const Cell& id :
         std::vector<Cell>{cell::Bytes("0123"), cell::Bytes("123"), cell::Bytes("123"),
                           cell::Null{}, cell::Bytes(""), cell::Bytes(" 123")}) {
        ASSERT_TRUE(claims.push_row(std::vector<Cell>{id}).has_value());
    }
    const Tables tables(std::vector<Table>{std::move(claims)});
    EXPECT_EQ(count_patients(tables), 4U);
    EXPECT_EQ(count_claims(tables), 6U);
}

}  // namespace
}  // namespace remitrax::binding::result_helpers
