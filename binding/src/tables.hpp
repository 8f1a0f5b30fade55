// The classes Tables and Table: read-only views of the shared tables of a parse or a batch,
// their text forms, the Arrow PyCapsule export and the conversions to pandas and polars.
#pragma once

#include <Python.h>

#include "column/table.hpp"
#include "native.hpp"

namespace remitrax::binding {

PyTypeObject* tables_type();
PyTypeObject* table_type();

// A new Tables object sharing `tables`, which are moved into a reference-counted block.
Ref make_tables(Tables tables);

}  // namespace remitrax::binding
