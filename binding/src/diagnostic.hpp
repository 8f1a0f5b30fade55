// The class Diagnostic, the conversion of a list of findings and the constructor that
// adapters of outside validators use.
#pragma once

#include <Python.h>

#include <vector>

#include "diagnostic/diagnostic.hpp"
#include "python.hpp"

namespace remitrax::binding {

PyTypeObject* diagnostic_type();

// A new Python list of Diagnostic objects, one per finding in order; the findings are moved
// into their objects.
Ref to_list(std::vector<Diagnostic> diagnostics);

// _external_diagnostic(origin, message, level, code=None, segment=None, element=None,
// component=None, datum=b'')
extern PyMethodDef external_diagnostic_def;

}  // namespace remitrax::binding
