// Cell values of rows under construction: the row of a loop-anchored table as it fills, the
// push of values into table columns, and the sinks a column value is handed to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/variant.hpp"
#include "column/table.hpp"
#include "column/types.hpp"
#include "x12/segment.hpp"

namespace remitrax {

namespace pending {
// No value yet: a later matching segment may still fill the cell.
struct Unset {
    friend bool operator==(Unset, Unset) = default;
};
// The bytes [start, end) of the row's text buffer.
struct TextRange {
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(TextRange, TextRange) = default;
};
}  // namespace pending

// One cell of a row under construction. Null is settled: the cell is never written again.
using PendingCell = std::variant<pending::Unset, cell::Null, pending::TextRange, cell::Int,
                                 cell::Decimal, cell::Date, cell::Time>;

// A row being built. Its buffers keep their capacity from one row to the next.
struct Row {
    // Per ancestor table, outermost first: the number of that table's open row, if any.
    std::vector<std::optional<std::uint64_t>> parents;
    std::vector<PendingCell> cells;  // one per spec column
    std::string text;                // the bytes of the TextRange cells
    std::uint64_t number = 0;
    std::uint64_t segment = 0;  // 0-based document index of the row's segment
};

// A value that its column refused; the row keeps a null in its place.
struct DroppedValue {
    std::string column;
    std::uint64_t length = 0;  // the length the column would have reached
    std::string bytes;         // the refused text; empty for a cell that was not text
};

namespace fill {

// Stores a cell in a pending cell of a row whose text buffer is `text`: Bytes are appended to
// it and the pending cell holds their range.
inline void put(PendingCell& target, const Cell& value, std::string& text) {
    static_assert(std::variant_size_v<Cell> == 6, "every kind of cell has its case");
    switch (value.index()) {
        case index_of<cell::Null, Cell>:
            target.emplace<cell::Null>();
            return;
        case index_of<cell::Bytes, Cell>: {
            const std::size_t start = text.size();
            text.append(*std::get_if<cell::Bytes>(&value));
            target.emplace<pending::TextRange>(start, text.size());
            return;
        }
        case index_of<cell::Int, Cell>:
            target.emplace<cell::Int>(*std::get_if<cell::Int>(&value));
            return;
        case index_of<cell::Decimal, Cell>:
            target.emplace<cell::Decimal>(*std::get_if<cell::Decimal>(&value));
            return;
        case index_of<cell::Date, Cell>:
            target.emplace<cell::Date>(*std::get_if<cell::Date>(&value));
            return;
        case index_of<cell::Time, Cell>:
            target.emplace<cell::Time>(*std::get_if<cell::Time>(&value));
            return;
    }
}

// The text of an element or component parsed at `type`: Null when it is empty or not valid.
// Bytes view the segment or `scratch`.
Cell parsed_cell(const Segment& segment, std::uint64_t element,
                 std::optional<std::uint64_t> component, ColumnType type, char separator,
                 std::string& scratch);

// Appends a row number or segment index to an Int64 column: null past the signed range.
inline void push_index(ColumnData& column, std::uint64_t value) {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        column.push_null();
    } else {
        column.push_int(static_cast<std::int64_t>(value));
    }
}

// Appends what every row of the row builder's schema starts with: the row number, the
// segment index and, per ancestor table, the number of its open row or a null for none.
// Returns the index of the first column after them.
template <std::ranges::input_range Parents>
std::size_t push_prefix(std::span<NamedColumn> columns, std::uint64_t number, std::uint64_t segment,
                        Parents&& parents) {
    push_index(columns[0].data, number);
    push_index(columns[1].data, segment);
    std::size_t c = 2;
    for (const std::optional<std::uint64_t> parent : parents) {
        if (parent) {
            push_index(columns[c].data, *parent);
        } else {
            columns[c].data.push_null();
        }
        ++c;
    }
    return c;
}

// Records text that `column` refused in `dropped` and stores a null in its place.
[[gnu::cold]] void drop_text(NamedColumn& column, std::string_view bytes,
                             std::vector<DroppedValue>& dropped);

// Appends text to a binary column; text that would bring it to 2^31 bytes or more is recorded
// in `dropped` and stored as a null.
inline void push_text(NamedColumn& column, std::string_view bytes,
                      std::vector<DroppedValue>& dropped) {
    if (!column.data.push_bytes(bytes)) [[unlikely]] {
        drop_text(column, bytes, dropped);
    }
}

// Appends `value` to `column`, text as push_text does.
inline void push_cell(NamedColumn& column, const Cell& value, std::vector<DroppedValue>& dropped) {
    static_assert(std::variant_size_v<Cell> == 6, "every kind of cell has its case");
    switch (value.index()) {
        case index_of<cell::Null, Cell>:
            column.data.push_null();
            return;
        case index_of<cell::Bytes, Cell>:
            push_text(column, *std::get_if<cell::Bytes>(&value), dropped);
            return;
        case index_of<cell::Int, Cell>:
            column.data.push_int(*std::get_if<cell::Int>(&value));
            return;
        case index_of<cell::Decimal, Cell>:
            column.data.push_decimal(std::get_if<cell::Decimal>(&value)->units);
            return;
        case index_of<cell::Date, Cell>:
            column.data.push_date(std::get_if<cell::Date>(&value)->days);
            return;
        case index_of<cell::Time, Cell>:
            column.data.push_time(std::get_if<cell::Time>(&value)->seconds);
            return;
    }
}

// Appends `row` to `table`, whose schema is the row builder's: row number, segment index, the
// parents, then the cells. A row number or index past the signed 64-bit range is stored as a
// null. Text that would bring its column to 2^31 bytes or more is replaced by a null and
// returned, so the row is always stored. A row that does not fit the schema is a fault.
std::vector<DroppedValue> append(const Row& row, Table& table);

// Where a column value goes: a pending cell of a row under construction, its text in the
// row's buffer, or (ColumnSink) the end of a table's column. Values come typed, so that none
// is copied through a temporary cell on the way.
struct PendingSink {
    PendingCell& target;
    std::string& text;

    void null() { target.emplace<cell::Null>(); }
    void bytes(std::string_view bytes) {
        const std::size_t start = text.size();
        text.append(bytes);
        target.emplace<pending::TextRange>(start, text.size());
    }
    void integer(std::int64_t value) { target.emplace<cell::Int>(value); }
    void decimal(const Int128& units) { target.emplace<cell::Decimal>(units); }
    void date(std::int32_t days) { target.emplace<cell::Date>(days); }
    void time(std::int32_t seconds) { target.emplace<cell::Time>(seconds); }
    void cell(const Cell& value) { put(target, value, text); }
};

struct ColumnSink {
    NamedColumn& column;
    std::vector<DroppedValue>& dropped;

    void null() { column.data.push_null(); }
    void bytes(std::string_view bytes) { push_text(column, bytes, dropped); }
    void integer(std::int64_t value) { column.data.push_int(value); }
    void decimal(const Int128& units) { column.data.push_decimal(units); }
    void date(std::int32_t days) { column.data.push_date(days); }
    void time(std::int32_t seconds) { column.data.push_time(seconds); }
    void cell(const Cell& value) { push_cell(column, value, dropped); }
};

}  // namespace fill

}  // namespace remitrax
