// What the Result helpers compute, over the shared tables and free of Python objects: the
// table and column lookups by fixed names, the payer and payee, the distinct patients and the
// payment sum. Each returns its value or the error the Python wrapper raises.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "column/table.hpp"
#include "column/types.hpp"

namespace remitrax::binding::result_helpers {

// A refusal and the Python exception it becomes.
struct Error {
    enum class Kind : std::uint8_t { Key, Value, Type };
    Kind kind = Kind::Key;
    std::string message;
};

// The table named exactly `name`; KeyError naming the helper `method` and every table.
[[nodiscard]] std::expected<const Table*, Error> table(const Tables& tables,
                                                       std::string_view method,
                                                       std::string_view name);

// The column named exactly `name` of `table`; KeyError naming `method` and every column.
[[nodiscard]] std::expected<const ColumnData*, Error> column(const Table& table,
                                                             std::string_view method,
                                                             std::string_view name);

// The six fields of an organization, in order: name, identification_code, address, city,
// state, zip_code.
inline constexpr std::array<std::string_view, 6> organization_keys = {
    "name", "identification_code", "address", "city", "state", "zip_code"};
using Organization = std::array<std::optional<std::string>, 6>;

// The payer ("payer") or payee ("payee") of the one payments row: the text of each field,
// nothing for a null; nothing at all when every field is null.
[[nodiscard]] std::expected<std::optional<Organization>, Error> organization(
    const Tables& tables, std::string_view which);

// The number of claim rows.
[[nodiscard]] std::expected<std::uint64_t, Error> count_claims(const Tables& tables);

// The number of distinct non-null patient ids, compared as the bytes stored.
[[nodiscard]] std::expected<std::uint64_t, Error> count_patients(const Tables& tables);

// The sum of the payments' total amounts as decimal text at the column's scale.
[[nodiscard]] std::expected<std::string, Error> sum_payments(const Tables& tables);

}  // namespace remitrax::binding::result_helpers
