// Tables that grow a whole row at a time, and the sorted set of a parse's tables with its
// plain-text form.
#include "column/table.hpp"

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <utility>
#include <variant>

namespace remitrax {

Table::Table(std::string name, std::span<const ColumnSchema> schema) : name_(std::move(name)) {
    columns_.reserve(schema.size());
    for (const ColumnSchema& column : schema) {
        columns_.push_back({column.name, ColumnData(column.type)});
    }
}

Table::Table(std::string name, std::vector<NamedColumn> columns, std::size_t rows)
    : name_(std::move(name)), columns_(std::move(columns)), rows_(rows) {}

[[nodiscard]] std::expected<void, RowError> Table::push_row(std::span<const Cell> cells) {
    if (cells.size() != columns_.size()) {
        return std::unexpected(
            RowError{RowError::WrongLength{name_, columns_.size(), cells.size()}});
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        // The full check, which builds the error, only for a cell the quick test doubts.
        if (columns_[i].data.accepts(cells[i])) {
            continue;
        }
        auto checked = columns_[i].data.check(cells[i]);
        if (!checked) {
            return std::unexpected(
                RowError{RowError::Refused{name_, columns_[i].name, std::move(checked.error())}});
        }
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        columns_[i].data.push_checked(cells[i]);
    }
    ++rows_;
    return {};
}

Table Table::take_rows() {
    std::vector<NamedColumn> taken;
    taken.reserve(columns_.size());
    for (NamedColumn& column : columns_) {
        taken.push_back({column.name, column.data.take()});
    }
    return Table(name_, std::move(taken), std::exchange(rows_, 0));
}

namespace {

// Whether two columns hold the same kind of values with the same parameters. Read from the
// values in place, as this runs for every column of every take into spare tables.
bool same_type(const ColumnData& a, const ColumnData& b) {
    if (a.values.index() != b.values.index()) {
        return false;
    }
    if (const auto* x = std::get_if<ColumnData::Int64>(&a.values)) {
        return x->scale == std::get_if<ColumnData::Int64>(&b.values)->scale;
    }
    if (const auto* x = std::get_if<ColumnData::Decimal128>(&a.values)) {
        const auto* y = std::get_if<ColumnData::Decimal128>(&b.values);
        return x->precision == y->precision && x->scale == y->scale;
    }
    return true;
}

}  // namespace

bool Table::same_schema(const Table& other) const {
    if (name_ != other.name_ || columns_.size() != other.columns_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i].name != other.columns_[i].name ||
            !same_type(columns_[i].data, other.columns_[i].data)) {
            return false;
        }
    }
    return true;
}

bool Table::take_rows_into(Table& into) {
    if (!same_schema(into)) {
        return false;
    }
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        ColumnData& spare = into.columns_[i].data;
        ColumnData& filled = columns_[i].data;
        spare.clear();
        // Both hold the same alternative, so the buffers trade places without a copy.
        spare.validity.swap(filled.validity);
        std::swap(spare.len, filled.len);
        spare.values.swap(filled.values);
    }
    into.rows_ = std::exchange(rows_, 0);
    return true;
}

const ColumnData* Table::column(std::string_view name) const {
    for (const NamedColumn& column : columns_) {
        if (column.name == name) {
            return &column.data;
        }
    }
    return nullptr;
}

std::string Table::header() const {
    std::string out;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (i > 0) {
            out += " | ";
        }
        out += columns_[i].name;
        out += ": ";
        out += columns_[i].data.type().to_string();
    }
    return out;
}

std::optional<std::string> Table::render_row(std::size_t row) const {
    if (row >= rows_) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (i > 0) {
            out += " | ";
        }
        if (const auto text = columns_[i].data.render(row)) {
            out += *text;
        }
    }
    return out;
}

std::string Table::to_string() const {
    std::string out = "## ";
    out += name_;
    out += " (rows: ";
    out += std::to_string(rows_);
    out += ")\n";
    out += header();
    out += '\n';
    for (std::size_t row = 0; row < rows_; ++row) {
        out += render_row(row).value_or(std::string());
        out += '\n';
    }
    out += '\n';
    return out;
}

Tables::Tables(std::vector<Table> tables) {
    const auto in_order = [](const Table& a, const Table& b) { return a.name() < b.name(); };
    if (std::is_sorted(tables.begin(), tables.end(), in_order)) {
        // Already in order (equal names keep theirs): nothing to move.
        tables_ = std::move(tables);
        return;
    }
    // Sorted by name, tables of equal names in arrival order: a stable sort, done as an
    // unstable sort of positions ordered by (name, position), a total order with one answer.
    // std::stable_sort is not used because libstdc++'s reaches the deprecated
    // std::get_temporary_buffer, which clang reports from our call.
    std::vector<std::size_t> order(tables.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // std::string compares bytewise, as unsigned bytes, the shorter name first on a tie.
    std::sort(order.begin(), order.end(), [&tables](std::size_t a, std::size_t b) {
        const int by_name = tables[a].name().compare(tables[b].name());
        return by_name != 0 ? by_name < 0 : a < b;
    });
    tables_.reserve(tables.size());
    for (const std::size_t i : order) {
        tables_.push_back(std::move(tables[i]));
    }
}

const Table* Tables::get(std::string_view name) const {
    for (const Table& table : tables_) {
        if (table.name() == name) {
            return &table;
        }
    }
    return nullptr;
}

std::string Tables::to_string() const {
    std::string out;
    for (const Table& table : tables_) {
        out += table.to_string();
    }
    return out;
}

}  // namespace remitrax
