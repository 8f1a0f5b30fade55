// The text form of a column type.
#include "column/types.hpp"

namespace remitrax {

std::string ColumnType::to_string() const {
    switch (kind) {
        case ColumnKind::Binary:
            return "binary";
        case ColumnKind::Int64:
            return scale == 0 ? "int64" : "int64 (scale " + std::to_string(scale) + ")";
        case ColumnKind::Decimal128:
            return "decimal128(" + std::to_string(precision) + ", " + std::to_string(scale) + ")";
        case ColumnKind::Date32:
            return "date32";
        case ColumnKind::Time32:
            return "time32 (seconds)";
    }
    // Only a kind byte cast from outside the enumeration gets here.
    return "kind(" + std::to_string(static_cast<unsigned>(kind)) + ")";
}

}  // namespace remitrax
