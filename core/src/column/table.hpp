// Tables: named columns that grow one whole row at a time, and the sorted set of tables one
// parse or one stream batch produces, with their plain-text rendering.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "column/column.hpp"
#include "column/types.hpp"

namespace remitrax {

// Why Table::push_row refused a row; the table is left as it was.
struct RowError {
    struct WrongLength {
        std::string table;
        std::size_t expected = 0;  // number of columns
        std::size_t got = 0;       // number of cells
    };
    struct Refused {
        std::string table;
        std::string column;
        CheckError error;
    };

    std::variant<WrongLength, Refused> kind;
};

struct NamedColumn {
    std::string name;
    ColumnData data;
};

// One column of a table's schema.
struct ColumnSchema {
    std::string name;
    ColumnType type;
};

// Invariant: every column holds exactly rows() rows. Name and schema never change.
class Table {
  public:
    // A table with empty columns of the given names and types, in that order.
    Table(std::string name, std::span<const ColumnSchema> schema);

    const std::string& name() const { return name_; }
    const std::vector<NamedColumn>& columns() const { return columns_; }
    std::size_t rows() const { return rows_; }

    // Appends one cell per column, in column order. Every cell is checked before any is
    // stored, so the row is stored whole or not at all.
    [[nodiscard]] std::expected<void, RowError> push_row(std::span<const Cell> cells);

    // Appends one row through `write(columns)`, which must append exactly one value (or a
    // null) to every column. For fillers that build values of the schema's own types and so
    // need none of push_row's checks.
    template <class Write>
    void append_row(Write&& write) {
        write(std::span<NamedColumn>(columns_));
        ++rows_;
    }

    // Makes room for `rows` rows in all in every column.
    void reserve(std::size_t rows) {
        for (NamedColumn& column : columns_) {
            column.data.reserve(rows);
        }
    }

    // The rows appended so far, as a table of the same name and schema; this table keeps its
    // schema with empty columns. The column buffers are moved, not copied.
    Table take_rows();

    // Whether `other` has this table's name and the same column names and types, in order.
    bool same_schema(const Table& other) const;

    // The rows appended so far handed to `into`, a table of the same schema whose own rows
    // are dropped; this table goes on, empty, with the buffers `into` had. Once those have
    // room for the rows, a take allocates nothing. False, with neither table changed, when
    // the schemas differ.
    bool take_rows_into(Table& into);

    // The first column named exactly `name`, or null.
    const ColumnData* column(std::string_view name) const;

    // "{name}: {type}" per column, joined by " | ".
    std::string header() const;

    // The rendered cells of `row` joined by " | "; nothing past the last row.
    std::optional<std::string> render_row(std::size_t row) const;

    // The title line "## {name} (rows: {rows})", the header, one line per row and an empty
    // line, each ending with a line feed.
    std::string to_string() const;

  private:
    Table(std::string name, std::vector<NamedColumn> columns, std::size_t rows);

    std::string name_;
    std::vector<NamedColumn> columns_;
    std::size_t rows_ = 0;
};

// Tables sorted bytewise by name; tables of equal names keep their order of arrival.
class Tables {
  public:
    Tables() = default;
    explicit Tables(std::vector<Table> tables);

    // The tables, in order, handed back; none are left.
    std::vector<Table> release() && { return std::move(tables_); }

    const std::vector<Table>& tables() const { return tables_; }
    std::size_t size() const { return tables_.size(); }
    auto begin() const { return tables_.begin(); }
    auto end() const { return tables_.end(); }

    // The first table named exactly `name`, or null.
    const Table* get(std::string_view name) const;

    // The text forms of the tables, one after another.
    std::string to_string() const;

  private:
    std::vector<Table> tables_;
};

}  // namespace remitrax
