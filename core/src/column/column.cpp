// One table column in the Arrow layout: checking and appending cells, reading them back, and
// rendering them as text for people.
#include "column/column.hpp"

#include "base/fault.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/text.hpp"

namespace remitrax {

namespace {

__extension__ typedef unsigned __int128 UInt128;

// At most this many bytes of a value are shown in a mismatch.
constexpr std::size_t kFoundBytes = 32;

// Dates up to 5879610-09-09 render as a calendar date; later day counts by their number.
constexpr std::int32_t kLastRenderedDay = 2'146'764'179;

constexpr std::int32_t kSecondsPerDay = 86'400;

bool is_continuation(unsigned char byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

// Where to cut a long value for display: 32 bytes, or before a character that the 33rd byte
// would split when its lead byte is one of the three bytes before the cut.
std::size_t found_cut(std::string_view bytes) {
    if (bytes.size() <= kFoundBytes ||
        !is_continuation(static_cast<unsigned char>(bytes[kFoundBytes]))) {
        return kFoundBytes;
    }
    std::size_t i = kFoundBytes;
    while (i > kFoundBytes - 3) {
        --i;
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0xC0) {
            return i;
        }
        if (!is_continuation(byte)) {
            break;
        }
    }
    return kFoundBytes;
}

void append_unsigned(std::string& out, UInt128 magnitude) {
    char digits[40];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    while (n > 0) {
        out.push_back(digits[--n]);
    }
}

UInt128 magnitude_of(Int128 value) {
    // Negating in unsigned arithmetic keeps the most negative value exact.
    const auto bits = static_cast<UInt128>(value);
    return value < 0 ? UInt128{0} - bits : bits;
}

std::string signed_text(Int128 value) {
    std::string out;
    if (value < 0) {
        out.push_back('-');
    }
    append_unsigned(out, magnitude_of(value));
    return out;
}

std::string bytes_found(std::string_view bytes) {
    const std::size_t cut = found_cut(bytes);
    if (cut >= bytes.size()) {
        return quoted(bytes);
    }
    std::string out = quoted(bytes.substr(0, cut));
    out += "...";
    return out;
}

CheckError::Mismatch mismatch(const Cell& value, ColumnType expected) {
    struct Visit {
        ColumnType expected;
        CheckError::Mismatch operator()(cell::Null) const { return {"", "null", expected}; }
        CheckError::Mismatch operator()(cell::Bytes v) const {
            return {bytes_found(v), "binary", expected};
        }
        CheckError::Mismatch operator()(cell::Int v) const {
            return {signed_text(v), "int64", expected};
        }
        CheckError::Mismatch operator()(cell::Decimal v) const {
            return {signed_text(v.units), "decimal128", expected};
        }
        CheckError::Mismatch operator()(cell::Date v) const {
            return {signed_text(v.days), "date32", expected};
        }
        CheckError::Mismatch operator()(cell::Time v) const {
            return {signed_text(v.seconds), "time32", expected};
        }
    };
    return std::visit(Visit{expected}, value);
}

std::size_t data_length(const ColumnData::Values& values) {
    const auto* binary = std::get_if<ColumnData::Binary>(&values);
    return binary == nullptr ? 0 : binary->data.size();
}

template <class T>
std::optional<T> value_at(const std::vector<T>& values, std::size_t row) {
    if (row >= values.size()) {
        return std::nullopt;
    }
    return values[row];
}

// Year, month and day of the proleptic Gregorian calendar for a count of days since
// 1970-01-01, counted in 400-year eras that start on March 1st so that the leap day ends
// each year.
struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

Civil civil_from_days(std::int64_t days) {
    const std::int64_t z = days + 719'468;  // days since 0000-03-01
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const std::int64_t doe = z - era * 146'097;  // [0, 146096]
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;  // [0, 399]
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                  // [0, 365]
    const std::int64_t mp = (5 * doy + 2) / 153;                                       // March is 0
    const auto day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::string render_date(std::int32_t days) {
    char buf[48];
    if (days > kLastRenderedDay) {
        std::snprintf(buf, sizeof buf, "date32(%" PRId32 ")", days);
        return buf;
    }
    const Civil date = civil_from_days(days);
    std::snprintf(buf, sizeof buf, "%04" PRId64 "-%02u-%02u", date.year, date.month, date.day);
    return buf;
}

std::string render_time(std::int32_t seconds) {
    char buf[32];
    if (static_cast<std::uint32_t>(seconds) >= static_cast<std::uint32_t>(kSecondsPerDay)) {
        std::snprintf(buf, sizeof buf, "time32(%" PRId32 ")", seconds);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%02" PRId32 ":%02" PRId32 ":%02" PRId32, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return buf;
}

}  // namespace

std::string render_decimal(Int128 units, std::uint8_t scale) {
    std::string digits;
    append_unsigned(digits, magnitude_of(units));
    const std::size_t width = std::size_t{scale} + 1;
    std::string out;
    if (units < 0) {
        out.push_back('-');
    }
    if (digits.size() < width) {
        out.append(width - digits.size(), '0');
    }
    out += digits;
    if (scale > 0) {
        out.insert(out.size() - scale, 1, '.');
    }
    return out;
}

namespace {

ColumnData::Values empty_values(ColumnType type) {
    switch (type.kind) {
        case ColumnKind::Int64:
            return ColumnData::Int64{{}, type.scale};
        case ColumnKind::Decimal128:
            return ColumnData::Decimal128{{}, type.precision, type.scale};
        case ColumnKind::Date32:
            return ColumnData::Date32{};
        case ColumnKind::Time32:
            return ColumnData::Time32{};
        case ColumnKind::Binary:
            break;
    }
    return ColumnData::Binary{};
}

// Appends a cell of the column's own kind; false (nothing appended) for any other cell and
// for bytes that would take the data past the largest 32-bit offset.
struct AppendValue {
    bool operator()(ColumnData::Binary& v, cell::Bytes bytes) const {
        if (bytes.size() > ColumnData::kMaxData - std::min(v.data.size(), ColumnData::kMaxData)) {
            return false;
        }
        v.data.insert(v.data.end(), bytes.begin(), bytes.end());
        v.offsets.push_back(static_cast<std::int32_t>(v.data.size()));
        return true;
    }
    bool operator()(ColumnData::Int64& v, cell::Int x) const {
        v.values.push_back(x);
        return true;
    }
    bool operator()(ColumnData::Decimal128& v, cell::Decimal x) const {
        v.values.push_back(x.units);
        return true;
    }
    bool operator()(ColumnData::Date32& v, cell::Date x) const {
        v.values.push_back(x.days);
        return true;
    }
    bool operator()(ColumnData::Time32& v, cell::Time x) const {
        v.values.push_back(x.seconds);
        return true;
    }
    template <class V, class C>
    bool operator()(V&, const C&) const {
        return false;
    }
};

}  // namespace

ColumnData::ColumnData(ColumnType type) : values(empty_values(type)) {}

ColumnType ColumnData::type() const {
    struct Visit {
        ColumnType operator()(const Binary&) const { return ColumnType::binary(); }
        ColumnType operator()(const Int64& v) const { return ColumnType::int64(v.scale); }
        ColumnType operator()(const Decimal128& v) const {
            return ColumnType::decimal128(v.precision, v.scale);
        }
        ColumnType operator()(const Date32&) const { return ColumnType::date32(); }
        ColumnType operator()(const Time32&) const { return ColumnType::time32(); }
    };
    return std::visit(Visit{}, values);
}

[[nodiscard]] std::expected<void, CheckError> ColumnData::check(const Cell& value) const {
    return check_cell(type(), data_length(values), value);
}

[[nodiscard]] std::expected<void, CheckError> ColumnData::check_cell(ColumnType type,
                                                                     std::size_t data_length,
                                                                     const Cell& value) {
    if (!fits(value, type)) {
        return std::unexpected(CheckError{mismatch(value, type)});
    }
    if (const auto* bytes = std::get_if<cell::Bytes>(&value)) {
        const std::size_t room = std::numeric_limits<std::size_t>::max() - data_length;
        const std::size_t length = bytes->size() > room ? std::numeric_limits<std::size_t>::max()
                                                        : data_length + bytes->size();
        if (length > kMaxData) {
            return std::unexpected(CheckError{CheckError::TooLong{length}});
        }
    }
    return {};
}

void ColumnData::push_checked(const Cell& value) {
    if (value.index() == index_of<cell::Null, Cell>) {
        push_null();
        return;
    }
    if (!std::visit(AppendValue{}, values, value)) {
        throw InternalFault("a cell that the " + type().to_string() +
                            " column refuses was appended to it");
    }
    set_validity(true);
}

void ColumnData::wrong_kind() const {
    throw InternalFault("a value of another kind appended to a " + type().to_string() + " column");
}

std::size_t ColumnData::length_with(std::string_view bytes) const {
    const std::size_t used = data_length(values);
    return bytes.size() > std::numeric_limits<std::size_t>::max() - used
               ? std::numeric_limits<std::size_t>::max()
               : used + bytes.size();
}

std::optional<Cell> ColumnData::get(std::size_t row) const {
    if (row >= len || row / 8 >= validity.size()) {
        return std::nullopt;
    }
    if ((static_cast<unsigned>(validity[row / 8]) >> (row % 8) & 1u) == 0) {
        return Cell{cell::Null{}};
    }
    struct Visit {
        std::size_t row;
        std::optional<Cell> operator()(const Binary& v) const {
            if (row + 1 >= v.offsets.size()) {
                return std::nullopt;
            }
            const std::int32_t start = v.offsets[row];
            const std::int32_t end = v.offsets[row + 1];
            if (start < 0 || end < start || static_cast<std::size_t>(end) > v.data.size()) {
                return std::nullopt;
            }
            return Cell{cell::Bytes(v.data.data() + start, static_cast<std::size_t>(end - start))};
        }
        std::optional<Cell> operator()(const Int64& v) const {
            const auto x = value_at(v.values, row);
            return x ? std::optional<Cell>(Cell{cell::Int{*x}}) : std::nullopt;
        }
        std::optional<Cell> operator()(const Decimal128& v) const {
            const auto x = value_at(v.values, row);
            return x ? std::optional<Cell>(Cell{cell::Decimal{*x}}) : std::nullopt;
        }
        std::optional<Cell> operator()(const Date32& v) const {
            const auto x = value_at(v.values, row);
            return x ? std::optional<Cell>(Cell{cell::Date{*x}}) : std::nullopt;
        }
        std::optional<Cell> operator()(const Time32& v) const {
            const auto x = value_at(v.values, row);
            return x ? std::optional<Cell>(Cell{cell::Time{*x}}) : std::nullopt;
        }
    };
    return std::visit(Visit{row}, values);
}

std::size_t ColumnData::null_count() const {
    std::size_t valid = 0;
    for (const std::uint8_t byte : validity) {
        valid += static_cast<std::size_t>(std::popcount(byte));
    }
    return valid >= len ? 0 : len - valid;
}

std::optional<std::string> ColumnData::render(std::size_t row) const {
    const std::optional<Cell> value = get(row);
    if (!value) {
        return std::nullopt;
    }
    struct Visit {
        std::uint8_t scale;
        std::string operator()(cell::Null) const { return "\u2205"; }
        std::string operator()(cell::Bytes v) const { return lossy_utf8(v); }
        std::string operator()(cell::Int v) const { return signed_text(v); }
        std::string operator()(cell::Decimal v) const { return render_decimal(v.units, scale); }
        std::string operator()(cell::Date v) const { return render_date(v.days); }
        std::string operator()(cell::Time v) const { return render_time(v.seconds); }
    };
    const auto* decimal = std::get_if<Decimal128>(&values);
    return std::visit(Visit{decimal == nullptr ? std::uint8_t{0} : decimal->scale}, *value);
}

void ColumnData::reserve(std::size_t rows) {
    validity.reserve(rows / 8 + 1);
    std::visit(
        [rows](auto& kind) {
            if constexpr (std::is_same_v<std::decay_t<decltype(kind)>, Binary>) {
                kind.offsets.reserve(rows + 1);
            } else {
                kind.values.reserve(rows);
            }
        },
        values);
}

namespace {

// Below this many bytes a buffer's room is always kept.
constexpr std::size_t kKeptRoom = 4096;

// Empties `buffer`; its room stays when it is small or at most four times what it held.
template <class T>
void clear_buffer(std::vector<T>& buffer) {
    const std::size_t held = buffer.size();
    buffer.clear();
    if (buffer.capacity() * sizeof(T) > kKeptRoom && buffer.capacity() / 4 > held) {
        buffer.shrink_to_fit();
    }
}

}  // namespace

void ColumnData::clear() {
    clear_buffer(validity);
    len = 0;
    if (auto* binary = std::get_if<Binary>(&values)) {
        clear_buffer(binary->offsets);
        binary->offsets.push_back(0);
        clear_buffer(binary->data);
        return;
    }
    std::visit(
        [](auto& kind) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(kind)>, Binary>) {
                clear_buffer(kind.values);
            }
        },
        values);
}

ColumnData ColumnData::take() {
    ColumnData taken(type());
    if (len == 0) {
        // Nothing to hand out; the buffers and their room stay.
        return taken;
    }
    // Both hold the same alternative, so the buffers trade places without a copy.
    validity.swap(taken.validity);
    std::swap(len, taken.len);
    values.swap(taken.values);
    // The next stretch of rows is likely as long as this one: room for as many rows (and as
    // many bytes of text) now saves the column growing again by doubling.
    reserve(taken.len);
    if (auto* binary = std::get_if<Binary>(&values)) {
        binary->data.reserve(std::get<Binary>(taken.values).data.size());
    }
    return taken;
}

}  // namespace remitrax
