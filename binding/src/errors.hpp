// The module's exception types and the one place where errors become Python exceptions: core
// error values on their way up, C++ exceptions at every C entry point.
#pragma once

#include <Python.h>

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "python.hpp"

namespace remitrax {
struct SpecError;
}

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

// Sets `type` with `message` (UTF-8) as the Python exception and throws PythonError.
[[noreturn]] void raise(PyObject* type, std::string_view message);
// The input cannot be indexed: ParseError with the core error's text.
[[noreturn]] void raise_parse_error(std::string_view message);
// A spec cannot be loaded or patched: SpecError with the core error's text.
[[noreturn]] void raise_spec_error(const SpecError& error);
// Raises `type` with `message` in place of the exception that is set, which becomes its
// cause, as `raise ... from` does.
[[noreturn]] void raise_from_current(PyObject* type, std::string_view message);

// `object` as an owner; a null result of a Python call throws PythonError.
inline Ref checked(PyObject* object) {
    if (object == nullptr) {
        throw PythonError();
    }
    return Ref(object);
}

// A negative status of a Python call throws PythonError.
inline void check(int status) {
    if (status < 0) {
        throw PythonError();
    }
}

// Whether the exception that is set may give way to another that says more: any Exception but
// MemoryError. KeyboardInterrupt, SystemExit and MemoryError reach the caller unchanged, since
// a Ctrl-C or a lack of memory says nothing about the value that was being read.
bool replaceable_error();

// The exception that is set, taken out of the error indicator as one object with its
// traceback attached; empty when none is set.
Ref take_exception();
// Sets `exception`, an exception instance, as the error again.
void restore_exception(Ref exception);

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

// A C entry point that returns a new object: `body` returns a Ref, handed to the caller.
template <typename Body>
PyObject* entry(Body&& body) noexcept {
    return guarded<PyObject*>(nullptr, [&] { return body().release(); });
}

}  // namespace remitrax::binding
