// The segment-at-a-time road: stream(), the class Stream and the batches it yields.
#pragma once

#include <Python.h>

#include "python.hpp"

namespace remitrax::binding {

PyTypeObject* batch_type();
PyTypeObject* stream_type();

// stream(data, spec=None, by="transaction", delimiters=None)
extern PyMethodDef stream_def;

}  // namespace remitrax::binding
