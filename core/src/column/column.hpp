// The values of one table column in the Apache Arrow columnar layout, so that the buffers can
// be lent to Arrow consumers as they stand: a validity bitmap, then 32-bit offsets and bytes
// for binary columns or one fixed-width little-endian value per row for the others.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/variant.hpp"
#include "column/types.hpp"

namespace remitrax {

static_assert(std::endian::native == std::endian::little,
              "column buffers are Arrow buffers only on a little-endian host");

// Why a cell cannot be stored in a column.
struct CheckError {
    // A binary column would reach 2^31 data bytes or more; `length` is the saturating sum of
    // its current data length and the value's length.
    struct TooLong {
        std::size_t length = 0;
    };
    // The cell is not of the column's kind.
    struct Mismatch {
        std::string found;       // the value: quoted bytes (at most 32) or a decimal integer
        std::string found_type;  // "binary", "int64", "decimal128", "date32" or "time32"
        ColumnType expected;
    };

    std::variant<TooLong, Mismatch> kind;
};

// `units` of 10^-scale as decimal text: "-0.05" for (-5, 2), "7" for (7, 0). Every 128-bit
// value has one, the least included.
std::string render_decimal(Int128 units, std::uint8_t scale);

// One column. The fields are the Arrow buffers and are read directly by the exporters; the
// member functions keep the invariants: `validity` holds exactly ceil(len / 8) bytes with
// the bits past `len` at 0, a binary column holds len + 1 offsets starting at 0 and at most
// kMaxData bytes, every other kind exactly `len` values. Readers never trust them blindly:
// `get` gives nothing for storage that does not hold the row.
struct ColumnData {
    struct Binary {
        std::vector<std::int32_t> offsets{0};
        std::vector<char> data;
    };
    struct Int64 {
        std::vector<std::int64_t> values;
        std::uint8_t scale = 0;
    };
    struct Decimal128 {
        std::vector<Int128> values;
        std::uint8_t precision = 0;
        std::uint8_t scale = 0;
    };
    struct Date32 {
        std::vector<std::int32_t> values;  // days since 1970-01-01
    };
    struct Time32 {
        std::vector<std::int32_t> values;  // seconds of the day
    };
    // One alternative per ColumnKind; code names them by type, never by position.
    using Values = std::variant<Binary, Int64, Decimal128, Date32, Time32>;

    // The most data bytes a binary column holds: the largest 32-bit offset.
    static constexpr std::size_t kMaxData = 2'147'483'647;

    std::vector<std::uint8_t> validity;  // bit r % 8 of byte r / 8, 1 when row r has a value
    std::size_t len = 0;
    Values values;

    // An empty column of `type`.
    explicit ColumnData(ColumnType type);

    ColumnType type() const;

    // Whether `value` can be stored. Read-only.
    [[nodiscard]] std::expected<void, CheckError> check(const Cell& value) const;

    // The whole of `check`: a refusal depends only on the column's type and its current data
    // length (0 for kinds other than binary). Separate so that the 2^31 boundary can be
    // reasoned about, and tested, without a column holding 2 GB.
    [[nodiscard]] static std::expected<void, CheckError> check_cell(ColumnType type,
                                                                    std::size_t data_length,
                                                                    const Cell& value);

    // Whether `check` would accept `value`, without building an error.
    bool accepts(const Cell& value) const {
        static_assert(std::variant_size_v<Cell> == 6, "every kind of cell has its case");
        switch (value.index()) {
            case index_of<cell::Null, Cell>:
                return true;
            case index_of<cell::Bytes, Cell>: {
                const auto* binary = std::get_if<Binary>(&values);
                if (binary == nullptr) {
                    return false;
                }
                const std::size_t used = binary->data.size();
                return used <= kMaxData &&
                       std::get_if<cell::Bytes>(&value)->size() <= kMaxData - used;
            }
            case index_of<cell::Int, Cell>:
                return std::holds_alternative<Int64>(values);
            case index_of<cell::Decimal, Cell>:
                return std::holds_alternative<Decimal128>(values);
            case index_of<cell::Date, Cell>:
                return std::holds_alternative<Date32>(values);
            case index_of<cell::Time, Cell>:
                return std::holds_alternative<Time32>(values);
        }
        return false;  // valueless
    }

    // Appends one row: a Null cell as a null, any other cell that `check` accepts as its
    // value. A cell that `check` refuses (another kind, or bytes that would overflow the
    // 32-bit offsets) is a fault of the caller and throws InternalFault, the column unchanged.
    void push_checked(const Cell& value);
    void push_null() {
        static_assert(std::variant_size_v<Values> == 5, "every kind of column has its case");
        switch (values.index()) {
            case index_of<Binary, Values>: {
                auto& offsets = std::get_if<Binary>(&values)->offsets;
                offsets.push_back(offsets.empty() ? 0 : offsets.back());
                break;
            }
            case index_of<Int64, Values>:
                push_zero(std::get_if<Int64>(&values)->values);
                break;
            case index_of<Decimal128, Values>:
                push_zero(std::get_if<Decimal128>(&values)->values);
                break;
            case index_of<Date32, Values>:
                push_zero(std::get_if<Date32>(&values)->values);
                break;
            case index_of<Time32, Values>:
                push_zero(std::get_if<Time32>(&values)->values);
                break;
        }
        set_validity(false);
    }

    // Typed appends for a filler that builds values of the column's own kind. A value of
    // another kind is a fault and throws InternalFault, the column unchanged.
    void push_int(std::int64_t value) { push_fixed<Int64>(value); }
    void push_decimal(Int128 units) { push_fixed<Decimal128>(units); }
    void push_date(std::int32_t days) { push_fixed<Date32>(days); }
    void push_time(std::int32_t seconds) { push_fixed<Time32>(seconds); }
    // Appends bytes to a binary column and returns true; false, with nothing appended, when
    // they would take its data past kMaxData or the column is not binary.
    bool push_bytes(std::string_view bytes) {
        auto* binary = std::get_if<Binary>(&values);
        if (binary == nullptr ||
            bytes.size() > kMaxData - std::min(binary->data.size(), kMaxData)) {
            return false;
        }
        binary->data.insert(binary->data.end(), bytes.begin(), bytes.end());
        binary->offsets.push_back(static_cast<std::int32_t>(binary->data.size()));
        set_validity(true);
        return true;
    }
    // The length a binary column would reach with `bytes` more, saturating.
    std::size_t length_with(std::string_view bytes) const;

    // The cell of `row`; Bytes borrow the column's data. Nothing past the last row or when the
    // storage does not hold the row.
    std::optional<Cell> get(std::size_t row) const;

    std::size_t null_count() const;

    // The cell of `row` as text for people: "∅" for a null, bytes as lossy UTF-8, integers
    // unscaled, decimals in fixed point, dates as year-month-day, times as hh:mm:ss.
    std::optional<std::string> render(std::size_t row) const;

    // Makes room for `rows` rows in all, so that appending up to them moves no buffer.
    void reserve(std::size_t rows);

    // Hands out all rows and leaves an empty column of the same type, with room for as many.
    ColumnData take();

    // Drops every row. The buffers keep their room for the next rows, unless it is far more
    // than the rows dropped needed: then it is given back, so that one large stretch of rows
    // does not pin its memory for all the small ones after it.
    void clear();

  private:
    template <class Kind, class T>
    void push_fixed(T value) {
        auto* kind = std::get_if<Kind>(&values);
        if (kind == nullptr) [[unlikely]] {
            wrong_kind();
        }
        kind->values.push_back(value);
        set_validity(true);
    }

    [[noreturn]] [[gnu::cold]] void wrong_kind() const;

    template <class T>
    static void push_zero(std::vector<T>& buffer) {
        buffer.push_back(T{});
    }

    void set_validity(bool valid) {
        if (len % 8 == 0) {
            validity.push_back(0);
        }
        if (valid) {
            validity.back() = static_cast<std::uint8_t>(validity.back() | (1u << (len % 8)));
        }
        ++len;
    }
};

}  // namespace remitrax
