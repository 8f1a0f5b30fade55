#include "project/fill.hpp"

#include <limits>
#include <type_traits>

namespace remitrax {

namespace {

// A cell of the read variants; Bytes are appended to `text` as a range.
Slot to_slot(const Cell& value, std::string_view bytes, std::string& text) {
    switch (value.index()) {
        case 1: {
            const std::size_t start = text.size();
            text.append(bytes);
            return slot::TextRange{start, text.size()};
        }
        case 2:
            return std::get<cell::Int>(value);
        case 3:
            return std::get<cell::Decimal>(value);
        case 4:
            return std::get<cell::Date>(value);
        case 5:
            return std::get<cell::Time>(value);
        default:
            return cell::Null{};
    }
}

Cell index_cell(std::uint64_t value) {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return cell::Null{};
    }
    return cell::Int{static_cast<std::int64_t>(value)};
}

}  // namespace

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

Slot read(std::span<const Checked> checked, const Segment& segment, const ReadRequest& request,
          char separator, std::string& scratch, std::string& text) {
    for (const Checked& entry : checked) {
        if (entry.element == request.element && entry.component == request.component &&
            entry.column_type == request.type) {
            if (!std::holds_alternative<cell::Bytes>(entry.value)) {
                return to_slot(entry.value, {}, text);
            }
            return to_slot(
                entry.value,
                leaf_text(segment, request.element, request.component, separator, scratch), text);
        }
    }
    const std::string_view bytes =
        leaf_text(segment, request.element, request.component, separator, scratch);
    if (bytes.empty()) {
        return cell::Null{};
    }
    const auto value = check::parse(request.type, bytes);
    return value ? to_slot(*value, bytes, text) : Slot{cell::Null{}};
}

Slot from_kept(const Cell& value, const Segment& segment, std::uint64_t element,
               std::optional<std::uint64_t> component, char separator, std::string& scratch,
               std::string& text) {
    if (!std::holds_alternative<cell::Bytes>(value)) {
        return to_slot(value, {}, text);
    }
    return to_slot(value, leaf_text(segment, element, component, separator, scratch), text);
}

std::vector<DroppedValue> append(const Row& row, Table& table, std::vector<Cell>& cells) {
    cells.clear();
    cells.push_back(index_cell(row.number));
    cells.push_back(index_cell(row.segment));
    for (const auto& parent : row.parents) {
        cells.push_back(parent ? index_cell(*parent) : Cell{cell::Null{}});
    }
    for (const Slot& value : row.slots) {
        switch (value.index()) {
            case 2: {
                // A range past the text would be a fault of the filler; it stores null.
                const auto& range = *std::get_if<slot::TextRange>(&value);
                if (range.start <= range.end && range.end <= row.text.size()) {
                    cells.emplace_back(cell::Bytes{
                        std::string_view(row.text).substr(range.start, range.end - range.start)});
                } else {
                    cells.emplace_back(cell::Null{});
                }
                break;
            }
            case 3:
                cells.emplace_back(*std::get_if<cell::Int>(&value));
                break;
            case 4:
                cells.emplace_back(*std::get_if<cell::Decimal>(&value));
                break;
            case 5:
                cells.emplace_back(*std::get_if<cell::Date>(&value));
                break;
            case 6:
                cells.emplace_back(*std::get_if<cell::Time>(&value));
                break;
            default:  // Unset and Null
                cells.emplace_back(cell::Null{});
                break;
        }
    }
    std::vector<DroppedValue> dropped;
    while (true) {
        auto pushed = table.push_row(cells);
        if (pushed) {
            break;
        }
        const auto* refused = std::get_if<RowError::Refused>(&pushed.error().kind);
        const auto* too_long =
            refused ? std::get_if<CheckError::TooLong>(&refused->error.kind) : nullptr;
        if (too_long == nullptr) {
            // The cells follow the table's own schema, so nothing else is refused; should it
            // happen, the row is given up rather than stored wrong.
            break;
        }
        // The refusing column, found by its own check rather than its name alone, so that a
        // name used twice cannot make this loop forever.
        const auto& columns = table.columns();
        std::size_t column = columns.size();
        for (std::size_t i = 0; i < columns.size() && i < cells.size(); ++i) {
            if (columns[i].name == refused->column && !columns[i].data.check(cells[i])) {
                column = i;
                break;
            }
        }
        if (column == columns.size()) {
            break;
        }
        const auto* bytes = std::get_if<cell::Bytes>(&cells[column]);
        dropped.push_back(
            {columns[column].name, too_long->length, bytes ? std::string(*bytes) : std::string()});
        cells[column] = cell::Null{};
    }
    cells.clear();
    return dropped;
}

}  // namespace fill

}  // namespace remitrax
