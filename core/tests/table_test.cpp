// Tables: whole-row appends, taking rows, lookups, text rendering and the sorted set of
// tables.
#include <gtest/gtest.h>

#include "column/table.hpp"

#include <sys/mman.h>

#include <string>
#include <string_view>
#include <vector>

namespace remitrax {

namespace {

const std::vector<ColumnSchema> kPayments = {
    {"row", ColumnType::int64(0)},
    {"segment", ColumnType::int64(0)},
    {"id", ColumnType::binary()},
};

Table payments_table(std::string name = "t") {
    return Table(std::move(name), kPayments);
}

std::vector<std::string> names_of(const Tables& tables) {
    std::vector<std::string> names;
    for (const Table& table : tables) {
        names.push_back(table.name());
    }
    return names;
}

TEST(Table, TextFormHasTitleHeaderRowLinesAndAnEmptyLine) {
    Table table = payments_table();
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{0}, cell::Int{12}, cell::Bytes("ABC")}));
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{1}, cell::Int{40}, cell::Null{}}));
    EXPECT_EQ(table.to_string(),
              "## t (rows: 2)\n"
              "row: int64 | segment: int64 | id: binary\n"
              "0 | 12 | ABC\n"
              "1 | 40 | \xE2\x88\x85\n"
              "\n");
    EXPECT_EQ(table.render_row(1), std::optional<std::string>("1 | 40 | \xE2\x88\x85"));
    EXPECT_EQ(table.render_row(2), std::nullopt);

    EXPECT_EQ(payments_table("empty").to_string(),
              "## empty (rows: 0)\n"
              "row: int64 | segment: int64 | id: binary\n"
              "\n");

    const std::vector<ColumnSchema> typed = {
        {"amount", ColumnType::int64(2)},
        {"paid", ColumnType::decimal128(38, 2)},
        {"date", ColumnType::date32()},
        {"time", ColumnType::time32()},
    };
    Table amounts("amounts", typed);
    ASSERT_TRUE(amounts.push_row(std::vector<Cell>{cell::Int{1234}, cell::Decimal{-5},
                                                   cell::Date{19782}, cell::Time{45059}}));
    EXPECT_EQ(amounts.to_string(),
              "## amounts (rows: 1)\n"
              "amount: int64 (scale 2) | paid: decimal128(38, 2) | date: date32 | time: time32 "
              "(seconds)\n"
              "1234 | -0.05 | 2024-02-29 | 12:30:59\n"
              "\n");

    // A table without columns: an empty header, and rows of no cells render as empty lines.
    Table bare("bare", std::vector<ColumnSchema>{});
    EXPECT_EQ(bare.header(), "");
    ASSERT_TRUE(bare.push_row(std::vector<Cell>{}));
    ASSERT_TRUE(bare.push_row(std::vector<Cell>{}));
    EXPECT_EQ(bare.rows(), 2u);
    EXPECT_EQ(bare.to_string(), "## bare (rows: 2)\n\n\n\n\n");
}

TEST(Table, PushRowRefusesWrongLengthsAndLeavesTheTableUnchanged) {
    struct Case {
        std::vector<Cell> cells;
        std::size_t got;
    };
    const Case cases[] = {
        {{cell::Int{0}, cell::Int{1}}, 2},
        {{cell::Int{0}, cell::Int{1}, cell::Bytes("A"), cell::Bytes("B")}, 4},
        {{}, 0},
    };
    for (const Case& c : cases) {
        Table table = payments_table("claims");
        const auto result = table.push_row(c.cells);
        ASSERT_FALSE(result.has_value()) << c.got;
        const auto* error = std::get_if<RowError::WrongLength>(&result.error().kind);
        ASSERT_NE(error, nullptr) << c.got;
        EXPECT_EQ(error->table, "claims");
        EXPECT_EQ(error->expected, 3u);
        EXPECT_EQ(error->got, c.got);
        EXPECT_EQ(table.rows(), 0u);
        for (const NamedColumn& column : table.columns()) {
            EXPECT_EQ(column.data.len, 0u) << column.name;
        }
    }
}

TEST(Table, PushRowStoresAWholeRowOrNothing) {
    struct Case {
        std::vector<Cell> cells;
        std::string column;  // the first refused column
        std::string found;
    };
    const Case cases[] = {
        // Refused in the last column after two good cells.
        {{cell::Int{0}, cell::Int{1}, cell::Int{2}}, "id", "2"},
        // Two bad cells: the first in column order is reported.
        {{cell::Int{0}, cell::Bytes("x"), cell::Int{2}}, "segment", "\"x\""},
        {{cell::Date{3}, cell::Bytes("x"), cell::Int{2}}, "row", "3"},
    };
    for (const Case& c : cases) {
        Table table = payments_table();
        ASSERT_TRUE(
            table.push_row(std::vector<Cell>{cell::Int{0}, cell::Int{5}, cell::Bytes("AB")}));
        const auto result = table.push_row(c.cells);
        ASSERT_FALSE(result.has_value()) << c.column;
        const auto* error = std::get_if<RowError::Refused>(&result.error().kind);
        ASSERT_NE(error, nullptr) << c.column;
        EXPECT_EQ(error->table, "t");
        EXPECT_EQ(error->column, c.column);
        const auto* mismatch = std::get_if<CheckError::Mismatch>(&error->error.kind);
        ASSERT_NE(mismatch, nullptr) << c.column;
        EXPECT_EQ(mismatch->found, c.found);
        EXPECT_EQ(table.rows(), 1u);
        for (const NamedColumn& column : table.columns()) {
            EXPECT_EQ(column.data.len, 1u) << column.name;
        }
    }

    // A text that would bring its column to 2^31 bytes: refused as too long, nothing stored.
    // The view spans reserved address space only; a length check never reads its bytes.
    const std::size_t size = 2'147'483'647;
    void* huge = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(huge, MAP_FAILED);
    Table table = payments_table();
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{0}, cell::Int{5}, cell::Bytes("AB")}));
    const auto result = table.push_row(std::vector<Cell>{
        cell::Int{1}, cell::Int{6}, cell::Bytes(static_cast<const char*>(huge), size)});
    munmap(huge, size);
    ASSERT_FALSE(result.has_value());
    const auto& refused = std::get<RowError::Refused>(result.error().kind);
    EXPECT_EQ(refused.column, "id");
    ASSERT_TRUE(std::holds_alternative<CheckError::TooLong>(refused.error.kind));
    EXPECT_EQ(std::get<CheckError::TooLong>(refused.error.kind).length, 2'147'483'649u);
    EXPECT_EQ(table.rows(), 1u);
    for (const NamedColumn& column : table.columns()) {
        EXPECT_EQ(column.data.len, 1u) << column.name;
    }
}

TEST(Table, TakeRowsMovesTheRowsOutAndKeepsTheSchema) {
    Table table = payments_table("claims");
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{0}, cell::Int{3}, cell::Bytes("A")}));
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{1}, cell::Int{9}, cell::Null{}}));

    const Table first = table.take_rows();
    EXPECT_EQ(first.name(), "claims");
    EXPECT_EQ(first.rows(), 2u);
    EXPECT_EQ(first.to_string(),
              "## claims (rows: 2)\n"
              "row: int64 | segment: int64 | id: binary\n"
              "0 | 3 | A\n"
              "1 | 9 | \xE2\x88\x85\n"
              "\n");

    const Table second = table.take_rows();
    EXPECT_EQ(second.to_string(),
              "## claims (rows: 0)\n"
              "row: int64 | segment: int64 | id: binary\n"
              "\n");

    // The emptied table grows again from nothing; the taken rows stay as they were.
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{0}, cell::Int{20}, cell::Bytes("B")}));
    EXPECT_EQ(table.render_row(0), std::optional<std::string>("0 | 20 | B"));
    EXPECT_EQ(first.render_row(0), std::optional<std::string>("0 | 3 | A"));
}

TEST(Table, TakeRowsIntoASpareTradesBuffersAndRefusesAnotherSchema) {
    Table table = payments_table("claims");
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{0}, cell::Int{3}, cell::Bytes("OLD")}));
    Table spare = table.take_rows();
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{1}, cell::Int{9}, cell::Null{}}));
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{2}, cell::Int{12}, cell::Bytes("B")}));

    ASSERT_TRUE(table.take_rows_into(spare));
    // The spare's own row is gone; it holds the rows taken, and the table none.
    EXPECT_EQ(spare.to_string(),
              "## claims (rows: 2)\n"
              "row: int64 | segment: int64 | id: binary\n"
              "1 | 9 | \xE2\x88\x85\n"
              "2 | 12 | B\n"
              "\n");
    EXPECT_EQ(table.rows(), 0u);
    for (const NamedColumn& column : table.columns()) {
        EXPECT_EQ(column.data.len, 0u) << column.name;
    }
    // The table grows again in the spare's old buffers; the rows taken do not change.
    ASSERT_TRUE(table.push_row(std::vector<Cell>{cell::Int{3}, cell::Int{15}, cell::Bytes("C")}));
    EXPECT_EQ(table.render_row(0), std::optional<std::string>("3 | 15 | C"));
    EXPECT_EQ(spare.render_row(1), std::optional<std::string>("2 | 12 | B"));

    const std::vector<ColumnSchema> other_name = {{"row", ColumnType::int64(0)},
                                                  {"segment", ColumnType::int64(0)},
                                                  {"ID", ColumnType::binary()}};
    const std::vector<ColumnSchema> other_type = {{"row", ColumnType::int64(0)},
                                                  {"segment", ColumnType::int64(0)},
                                                  {"id", ColumnType::date32()}};
    const std::vector<ColumnSchema> other_scale = {{"row", ColumnType::int64(0)},
                                                   {"segment", ColumnType::int64(2)},
                                                   {"id", ColumnType::binary()}};
    const std::vector<ColumnSchema> fewer = {{"row", ColumnType::int64(0)},
                                             {"segment", ColumnType::int64(0)}};
    std::vector<Table> others;
    others.push_back(payments_table("claim"));
    others.emplace_back("claims", other_name);
    others.emplace_back("claims", other_type);
    others.emplace_back("claims", other_scale);
    others.emplace_back("claims", fewer);
    for (Table& other : others) {
        const std::string before = table.to_string();
        const std::string other_before = other.to_string();
        EXPECT_FALSE(table.same_schema(other)) << other_before;
        EXPECT_FALSE(table.take_rows_into(other)) << other_before;
        EXPECT_EQ(table.to_string(), before);
        EXPECT_EQ(other.to_string(), other_before);
    }
    EXPECT_TRUE(table.same_schema(payments_table("claims")));
}

TEST(Table, ColumnFindsTheFirstExactName) {
    const std::vector<ColumnSchema> schema = {
        {"id", ColumnType::binary()},
        {"amount", ColumnType::int64(2)},
        {"id", ColumnType::date32()},
    };
    const Table table("t", schema);
    ASSERT_NE(table.column("id"), nullptr);
    EXPECT_EQ(table.column("id")->type(), ColumnType::binary());
    EXPECT_EQ(table.column("amount")->type(), ColumnType::int64(2));
    EXPECT_EQ(table.column("Amount"), nullptr);
    EXPECT_EQ(table.column("amoun"), nullptr);
}

TEST(Table, TablesSortStablyByBytewiseName) {
    struct Case {
        std::vector<std::string> names;
        std::vector<std::string> sorted;
    };
    const Case cases[] = {
        {{"payments", "claims", "adjustments"}, {"adjustments", "claims", "payments"}},
        {{"a_b", "a"}, {"a", "a_b"}},
        {{"claims", "Claims", "CLAIMS", "b"}, {"CLAIMS", "Claims", "b", "claims"}},
        {{"\xC3\xA9t\xC3\xA9", "zeta", "Zeta"}, {"Zeta", "zeta", "\xC3\xA9t\xC3\xA9"}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        std::vector<Table> tables;
        for (const std::string& name : c.names) {
            tables.emplace_back(name, std::vector<ColumnSchema>{});
        }
        EXPECT_EQ(names_of(Tables(std::move(tables))), c.sorted) << testing::PrintToString(c.names);
    }

    // Equal names keep their order of arrival, told apart by their row counts.
    std::vector<Table> tables;
    for (std::size_t i = 0; i < 4; ++i) {
        tables.emplace_back(i % 2 == 0 ? "b" : "a", std::vector<ColumnSchema>{});
        for (std::size_t r = 0; r < i; ++r) {
            ASSERT_TRUE(tables.back().push_row(std::vector<Cell>{}));
        }
    }
    const Tables sorted(std::move(tables));
    std::vector<std::size_t> rows;
    for (const Table& table : sorted) {
        rows.push_back(table.rows());
    }
    EXPECT_EQ(rows, (std::vector<std::size_t>{1, 3, 0, 2}));
    ASSERT_NE(sorted.get("b"), nullptr);
    EXPECT_EQ(sorted.get("b")->rows(), 0u);
    EXPECT_EQ(sorted.get("a")->rows(), 1u);
}

TEST(Table, TablesGetAndTextForm) {
    std::vector<Table> list;
    list.push_back(payments_table("claims"));
    list.push_back(Table("adjustments", std::vector<ColumnSchema>{{"code", ColumnType::binary()}}));
    ASSERT_TRUE(list.back().push_row(std::vector<Cell>{cell::Bytes("CO")}));
    const Tables tables(std::move(list));

    EXPECT_EQ(tables.get("Claims"), nullptr);
    EXPECT_EQ(tables.get("claim"), nullptr);
    ASSERT_NE(tables.get("claims"), nullptr);
    EXPECT_EQ(tables.get("claims")->name(), "claims");
    EXPECT_EQ(tables.to_string(),
              "## adjustments (rows: 1)\n"
              "code: binary\n"
              "CO\n"
              "\n"
              "## claims (rows: 0)\n"
              "row: int64 | segment: int64 | id: binary\n"
              "\n");
    EXPECT_EQ(Tables().to_string(), "");
    EXPECT_EQ(Tables().get(""), nullptr);
}

}  // namespace

}  // namespace remitrax
