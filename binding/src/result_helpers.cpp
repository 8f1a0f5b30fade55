// The Result helpers' work over the shared tables: lookups by fixed names with the errors that
// name what exists, the payer and payee, the counts and the overflow-checked payment sum.
#include "result_helpers.hpp"

#include <set>
#include <utility>
#include <variant>

namespace remitrax::binding::result_helpers {

namespace {

std::unexpected<Error> fail(Error::Kind kind, std::string message) {
    return std::unexpected(Error{kind, std::move(message)});
}

template <class Items, class Name>
std::string joined(const Items& items, Name name) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) {
            out += ", ";
        }
        out += name(item);
    }
    return out;
}

}  // namespace

std::expected<const Table*, Error> table(const Tables& tables, std::string_view method,
                                         std::string_view name) {
    if (const Table* found = tables.get(name)) {
        return found;
    }
    std::string message = "Result.";
    message += method;
    message += " reads the table \"";
    message += name;
    message += "\"; the tables are: ";
    message += joined(tables, [](const Table& t) { return t.name(); });
    return fail(Error::Kind::Key, std::move(message));
}

std::expected<const ColumnData*, Error> column(const Table& table, std::string_view method,
                                               std::string_view name) {
    if (const ColumnData* found = table.column(name)) {
        return found;
    }
    std::string message = "Result.";
    message += method;
    message += " reads the column \"";
    message += name;
    message += "\" of the table \"" + table.name() + "\"; its columns are: ";
    message += joined(table.columns(), [](const NamedColumn& c) { return c.name; });
    return fail(Error::Kind::Key, std::move(message));
}

namespace {

// The column `column_name` of the table `table_name`, or the error for whichever is missing.
[[nodiscard]] std::expected<const ColumnData*, Error> table_column(const Tables& tables,
                                                                   std::string_view method,
                                                                   std::string_view table_name,
                                                                   std::string_view column_name) {
    const auto found = table(tables, method, table_name);
    if (!found) {
        return std::unexpected(found.error());
    }
    return column(**found, method, column_name);
}

}  // namespace

std::expected<std::optional<Organization>, Error> organization(const Tables& tables,
                                                               std::string_view which) {
    static constexpr std::array<std::string_view, 6> suffixes = {"name", "id",    "address",
                                                                 "city", "state", "zip"};
    const auto payments = table(tables, which, "payments");
    if (!payments) {
        return std::unexpected(payments.error());
    }
    const Table& found = **payments;
    if (found.rows() != 1) {
        std::string message = "Result.";
        message += which;
        message += " reads one transaction; the table \"payments\" has " +
                   std::to_string(found.rows()) + " rows";
        return fail(Error::Kind::Value, std::move(message));
    }
    Organization fields;
    bool any = false;
    for (std::size_t f = 0; f < suffixes.size(); ++f) {
        std::string name(which);
        name += '_';
        name += suffixes[f];
        const auto data = column(found, which, name);
        if (!data) {
            return std::unexpected(data.error());
        }
        const std::optional<Cell> cell = (*data)->get(0);
        if (cell && !std::holds_alternative<cell::Null>(*cell)) {
            fields[f] = (*data)->render(0);
            any = true;
        }
    }
    if (!any) {
        return std::optional<Organization>();
    }
    return std::optional<Organization>(std::move(fields));
}

std::expected<std::uint64_t, Error> count_claims(const Tables& tables) {
    const auto claims = table(tables, "count_claims", "claims");
    if (!claims) {
        return std::unexpected(claims.error());
    }
    return (*claims)->rows();
}

std::expected<std::uint64_t, Error> count_patients(const Tables& tables) {
    const auto ids = table_column(tables, "count_patients", "claims", "patient_id");
    if (!ids) {
        return std::unexpected(ids.error());
    }
    const ColumnData& data = **ids;
    std::set<std::string, std::less<>> seen;
    for (std::size_t row = 0; row < data.len; ++row) {
        const std::optional<Cell> cell = data.get(row);
        if (!cell || std::holds_alternative<cell::Null>(*cell)) {
            continue;
        }
        if (const auto* bytes = std::get_if<cell::Bytes>(&*cell)) {
            seen.emplace(*bytes);
        } else {
            seen.insert(data.render(row).value_or(std::string()));
        }
    }
    return seen.size();
}

std::expected<std::string, Error> sum_payments(const Tables& tables) {
    const auto amounts = table_column(tables, "sum_payments", "payments", "total_payment_amount");
    if (!amounts) {
        return std::unexpected(amounts.error());
    }
    const ColumnData& data = **amounts;
    const auto* decimals = std::get_if<ColumnData::Decimal128>(&data.values);
    if (decimals == nullptr) {
        return fail(Error::Kind::Type,
                    "Result.sum_payments reads \"total_payment_amount\" of the table "
                    "\"payments\" as a decimal; it is " +
                        data.type().to_string());
    }
    Int128 sum = 0;
    for (std::size_t row = 0; row < data.len; ++row) {
        const std::optional<Cell> cell = data.get(row);
        const auto* amount = cell ? std::get_if<cell::Decimal>(&*cell) : nullptr;
        if (amount == nullptr) {
            continue;
        }
        if (__builtin_add_overflow(sum, amount->units, &sum)) {
            return fail(Error::Kind::Value,
                        "Result.sum_payments: the sum of \"total_payment_amount\" in the table "
                        "\"payments\" overflows a 128-bit decimal at row " +
                            std::to_string(row) + " (amount " +
                            render_decimal(amount->units, decimals->scale) + ")");
        }
    }
    return render_decimal(sum, decimals->scale);
}

}  // namespace remitrax::binding::result_helpers
