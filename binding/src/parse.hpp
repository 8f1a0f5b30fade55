// The whole-file road: the input copy, parse() and the class Result.
#pragma once

#include <Python.h>

#include "base/buffer.hpp"
#include "python.hpp"

namespace remitrax::binding {

PyTypeObject* result_type();

// An owned, contiguous copy of the caller's bytes, taken with the GIL held (a large exact
// bytes object, which cannot change, is copied without it); later changes to the caller's
// object do not reach it. `function` names the caller in the refusal of a buffer that is
// not one of single bytes.
Buffer copy_input(const char* function, PyObject* data);

// parse(data, spec=None, delimiters=None)
extern PyMethodDef parse_def;

}  // namespace remitrax::binding
