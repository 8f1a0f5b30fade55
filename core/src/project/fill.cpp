// Filling a row's cells: parsing an element's text into a cell, and appending a finished row
// of a loop-anchored table to its table.
#include "project/fill.hpp"

#include <type_traits>

#include "base/fault.hpp"
#include "project/values.hpp"

namespace remitrax {

namespace fill {

Cell parsed_cell(const Segment& segment, std::uint64_t element,
                 std::optional<std::uint64_t> component, ColumnType type, char separator,
                 std::string& scratch) {
    const std::string_view bytes =
        value::leaf_text(segment, element, component, separator, scratch);
    if (bytes.empty()) {
        return cell::Null{};
    }
    auto parsed = value::parse(type, bytes);
    return parsed ? *parsed : Cell{cell::Null{}};
}

void drop_text(NamedColumn& column, std::string_view bytes, std::vector<DroppedValue>& dropped) {
    ColumnData& data = column.data;
    // Only a binary column that would pass 2^31 bytes refuses text of its own kind.
    if (!std::holds_alternative<ColumnData::Binary>(data.values)) {
        throw InternalFault("text appended to the non-binary column \"" + column.name + "\"");
    }
    dropped.push_back({column.name, data.length_with(bytes), std::string(bytes)});
    data.push_null();
}

std::vector<DroppedValue> append(const Row& row, Table& table) {
    const std::size_t expected = 2 + row.parents.size() + row.cells.size();
    if (table.columns().size() != expected) {
        throw InternalFault("a row of " + std::to_string(expected) + " cells for the table \"" +
                            table.name() + "\" of " + std::to_string(table.columns().size()) +
                            " columns");
    }
    std::vector<DroppedValue> dropped;
    table.append_row([&](std::span<NamedColumn> columns) {
        std::size_t c = push_prefix(columns, row.number, row.segment, row.parents);
        for (const PendingCell& value : row.cells) {
            NamedColumn& column = columns[c++];
            static_assert(std::variant_size_v<PendingCell> == 7,
                          "every kind of pending cell has its case");
            switch (value.index()) {
                case index_of<pending::Unset, PendingCell>:
                case index_of<cell::Null, PendingCell>:
                    column.data.push_null();
                    break;
                case index_of<pending::TextRange, PendingCell>: {
                    const auto& range = *std::get_if<pending::TextRange>(&value);
                    if (range.start > range.end || range.end > row.text.size()) {
                        throw InternalFault("a text range past the text of a row of \"" +
                                            table.name() + "\"");
                    }
                    push_text(
                        column,
                        std::string_view(row.text).substr(range.start, range.end - range.start),
                        dropped);
                    break;
                }
                case index_of<cell::Int, PendingCell>:
                    column.data.push_int(*std::get_if<cell::Int>(&value));
                    break;
                case index_of<cell::Decimal, PendingCell>:
                    column.data.push_decimal(std::get_if<cell::Decimal>(&value)->units);
                    break;
                case index_of<cell::Date, PendingCell>:
                    column.data.push_date(std::get_if<cell::Date>(&value)->days);
                    break;
                case index_of<cell::Time, PendingCell>:
                    column.data.push_time(std::get_if<cell::Time>(&value)->seconds);
                    break;
            }
        }
    });
    return dropped;
}

}  // namespace fill

}  // namespace remitrax
