#include "project/fill.hpp"

#include <limits>
#include <type_traits>

namespace remitrax {

namespace fill {

std::string_view leaf_text(const Segment& segment, std::uint64_t element,
                           std::optional<std::uint64_t> component, char separator,
                           std::string& scratch) {
    const auto elements = segment.elements();
    if (element == 0 || element > elements.size()) {
        return {};
    }
    const Element& data = elements[element - 1];
    if (!component) {
        if (!data.is_composite()) {
            return data.value().bytes();
        }
        scratch.clear();
        bool first = true;
        for (const Value& part : data.components()) {
            if (!first) {
                scratch.push_back(separator);
            }
            first = false;
            scratch.append(part.bytes());
        }
        return scratch;
    }
    const std::uint64_t k = *component;
    if (!data.is_composite()) {
        return k == 1 ? data.value().bytes() : std::string_view{};
    }
    const auto parts = data.components();
    return k == 0 || k > parts.size() ? std::string_view{} : parts[k - 1].bytes();
}

Cell parsed_cell(const Segment& segment, const ReadRequest& request, char separator,
                 std::string& scratch) {
    const std::string_view bytes =
        leaf_text(segment, request.element, request.component, separator, scratch);
    if (bytes.empty()) {
        return cell::Null{};
    }
    auto value = check::parse(request.type, bytes);
    return value ? *value : Cell{cell::Null{}};
}

Slot read(std::span<const Checked> checked, const Segment& segment, const ReadRequest& request,
          char separator, std::string& scratch, std::string& text) {
    for (const Checked& entry : checked) {
        if (entry.element == request.element && entry.component == request.component &&
            entry.column_type == request.type) {
            return from_kept(entry.value, segment, request.element, request.component, separator,
                             scratch, text);
        }
    }
    Slot slot;
    put(slot, parsed_cell(segment, request, separator, scratch), text);
    return slot;
}

Slot from_kept(const Cell& value, const Segment& segment, std::uint64_t element,
               std::optional<std::uint64_t> component, char separator, std::string& scratch,
               std::string& text) {
    Slot slot;
    put(slot, kept_cell(value, segment, element, component, separator, scratch), text);
    return slot;
}

void drop_text(NamedColumn& column, std::string_view bytes, std::vector<DroppedValue>& dropped) {
    ColumnData& data = column.data;
    // Only a binary column that would pass 2^31 bytes refuses text of its own kind.
    if (std::holds_alternative<ColumnData::Binary>(data.values)) {
        dropped.push_back({column.name, data.length_with(bytes), std::string(bytes)});
    }
    data.push_null();
}

std::vector<DroppedValue> append(const Row& row, Table& table) {
    std::vector<DroppedValue> dropped;
    table.append_row([&](std::span<NamedColumn> columns) {
        // The columns follow the projector's schema; should a row not match it, the columns
        // without a value of the row take a null so that every column still grows by one.
        std::size_t c = 0;
        const auto next = [&]() -> NamedColumn* {
            return c < columns.size() ? &columns[c++] : nullptr;
        };
        if (NamedColumn* column = next()) {
            push_index(column->data, row.number);
        }
        if (NamedColumn* column = next()) {
            push_index(column->data, row.segment);
        }
        for (const auto& parent : row.parents) {
            if (NamedColumn* column = next()) {
                if (parent) {
                    push_index(column->data, *parent);
                } else {
                    column->data.push_null();
                }
            }
        }
        for (const Slot& value : row.slots) {
            NamedColumn* column = next();
            if (column == nullptr) {
                break;
            }
            switch (value.index()) {
                case 2: {
                    // A range past the text would be a fault of the filler; it stores null.
                    const auto& range = *std::get_if<slot::TextRange>(&value);
                    if (range.start > range.end || range.end > row.text.size()) {
                        column->data.push_null();
                    } else {
                        push_text(
                            *column,
                            std::string_view(row.text).substr(range.start, range.end - range.start),
                            dropped);
                    }
                    break;
                }
                case 3:
                    column->data.push_int(*std::get_if<cell::Int>(&value));
                    break;
                case 4:
                    column->data.push_decimal(std::get_if<cell::Decimal>(&value)->units);
                    break;
                case 5:
                    column->data.push_date(std::get_if<cell::Date>(&value)->days);
                    break;
                case 6:
                    column->data.push_time(std::get_if<cell::Time>(&value)->seconds);
                    break;
                default:  // Unset and Null
                    column->data.push_null();
                    break;
            }
        }
        while (NamedColumn* column = next()) {
            column->data.push_null();
        }
    });
    return dropped;
}

}  // namespace fill

}  // namespace remitrax
