// The classes Tables and Table: read-only views of the shared tables of a parse or a batch,
// their text forms, the Arrow PyCapsule export and the conversions to pandas and polars.
#pragma once

#include <Python.h>

#include <memory>

#include "column/table.hpp"
#include "python.hpp"

namespace remitrax::binding {

PyTypeObject* tables_type();
PyTypeObject* table_type();

// A new Tables object sharing `tables`, which are moved into a reference-counted block.
Ref make_tables(Tables tables);
// A new Tables object sharing tables already in a reference-counted block.
Ref make_tables(std::shared_ptr<const Tables> tables);

// The core tables a Tables object shares.
const std::shared_ptr<const Tables>& tables_of(PyObject* tables);

}  // namespace remitrax::binding
