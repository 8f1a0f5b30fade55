// The stub records of Tables and Table.
#include "docs.hpp"
#include "stub_registry.hpp"

namespace remitrax::binding::stubs {
namespace {

const Registration tables{Class{"remitrax._core", "Tables", docs::tables, {}, 11}};

constexpr Parameter contains_parameters[] = {{"name", "builtins.object"}};
constexpr Parameter getitem_parameters[] = {{"name", "builtins.str"}};
constexpr Member tables_members[] = {
    Method{"keys", {}, "builtins.list[builtins.str]", docs::tables_keys},
    Method{"__len__", {}, "builtins.int"},
    Method{"__iter__", {}, "collections.abc.Iterator[builtins.str]"},
    Method{"render", {}, "builtins.str", docs::tables_render},
    Method{
        "to_polars", {}, "builtins.dict[builtins.str, polars.DataFrame]", docs::tables_to_polars},
    Method{
        "to_pandas", {}, "builtins.dict[builtins.str, pandas.DataFrame]", docs::tables_to_pandas},
    Method{"__repr__", {}, "builtins.str"},
    Method{"__contains__", contains_parameters, "builtins.bool", nullptr, MethodKind::Instance,
           true},
    Method{"__getitem__", getitem_parameters, "Table", nullptr, MethodKind::Instance, true},
};
const Registration tables_record{Members{"Tables", tables_members, 0}};

const Registration table{Class{"remitrax._core", "Table", docs::table, {}, 10}};

constexpr Member table_members[] = {
    Property{"name", "builtins.str", docs::table_name},
    Property{"columns", "builtins.list[builtins.str]", docs::table_columns},
    Method{"__len__", {}, "builtins.int"},
    Method{"to_polars", {}, "polars.DataFrame", docs::table_to_polars},
    Method{"to_pandas", {}, "pandas.DataFrame", docs::table_to_pandas},
    Method{"render", {}, "builtins.str", docs::table_render},
};
const Registration table_record{Members{"Table", table_members, 0}};

// The Arrow PyCapsule interface.
constexpr Parameter requested_schema[] = {{"requested_schema", "builtins.object | None", "None"}};
constexpr Member table_arrow_members[] = {
    Method{"__arrow_c_stream__", requested_schema, "typing_extensions.CapsuleType",
           docs::table_arrow_c_stream},
    Method{"__arrow_c_array__", requested_schema,
           "builtins.tuple[typing_extensions.CapsuleType, typing_extensions.CapsuleType]",
           docs::table_arrow_c_array},
    Method{"__arrow_c_schema__", {}, "typing_extensions.CapsuleType", docs::table_arrow_c_schema},
    Method{"__repr__", {}, "builtins.str"},
};
const Registration table_arrow_record{Members{"Table", table_arrow_members, 1}};

}  // namespace
}  // namespace remitrax::binding::stubs
