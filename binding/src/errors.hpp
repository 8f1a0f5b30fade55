// The module's exception types and the one place where C++ exceptions become Python ones.
#pragma once

#include <Python.h>

#include <new>
#include <stdexcept>
#include <string>

namespace remitrax::binding {

// A broken invariant inside the module. It reaches Python as the internal-fault exception,
// which derives from BaseException so that a plain `except Exception` does not hide it.
class InternalFault : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A Python exception is already set; unwinding only carries it to the entry point.
class PythonError : public std::exception {
  public:
    const char* what() const noexcept override { return "a Python exception is set"; }
};

// The process-wide exception types, created on first use from any thread. A failure to
// create one throws InternalFault.
PyObject* parse_error_type();
PyObject* spec_error_type();
PyObject* internal_fault_type();

// Turns the exception in flight into a Python exception. Call only from a catch block,
// with the GIL held.
void raise_current_exception() noexcept;

// Runs `body` and turns any C++ exception into a Python exception, returning `failed`.
// Every C entry point of the module goes through here, so nothing aborts the interpreter.
template <typename Result, typename Body>
Result guarded(Result failed, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        raise_current_exception();
        return failed;
    }
}

}  // namespace remitrax::binding
