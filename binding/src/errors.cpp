#include "errors.hpp"

#include <atomic>
#include <mutex>

#include "native.hpp"

namespace remitrax::binding {

namespace {

struct ExceptionSpec {
    const char* name;
    const char* doc;
    PyObject* base;
};

// Creates a type once per process. The wait for the once-flag happens with the GIL
// released, so a thread inside the initialiser that needs the GIL can always finish; the
// initialiser takes the GIL for itself.
PyObject* once_type(std::once_flag& flag, std::atomic<PyObject*>& cell, ExceptionSpec (*spec)()) {
    if (PyObject* ready = cell.load(std::memory_order_acquire)) {
        return ready;
    }
    {
        GilRelease released;
        std::call_once(flag, [&] {
            GilEnsure gil;
            const ExceptionSpec s = spec();
            PyObject* type = PyErr_NewExceptionWithDoc(s.name, s.doc, s.base, nullptr);
            if (type == nullptr) {
                PyErr_Clear();
                throw InternalFault("Failed to initialize new exception type.");
            }
            cell.store(type, std::memory_order_release);  // kept for the life of the process
        });
    }
    return cell.load(std::memory_order_acquire);
}

}  // namespace

PyObject* parse_error_type() {
    static std::once_flag flag;
    static std::atomic<PyObject*> cell{nullptr};
    return once_type(flag, cell, [] {
        return ExceptionSpec{
            "remitrax.ParseError",
            "Input that cannot be indexed: its delimiters cannot be read or it exceeds the size "
            "limit; the message says what was found and where.",
            PyExc_ValueError};
    });
}

PyObject* spec_error_type() {
    static std::once_flag flag;
    static std::atomic<PyObject*> cell{nullptr};
    return once_type(flag, cell, [] {
        return ExceptionSpec{
            "remitrax.SpecError",
            "A spec that cannot be loaded or patched; the message names the rule, the loop and "
            "key, and the datum.",
            PyExc_ValueError};
    });
}

PyObject* internal_fault_type() {
    static std::once_flag flag;
    static std::atomic<PyObject*> cell{nullptr};
    return once_type(flag, cell, [] {
        return ExceptionSpec{
            "remitrax.InternalFault",
            "An internal fault of remitrax: a broken invariant reached the Python boundary. It "
            "derives from BaseException, so `except Exception` does not hide it.",
            PyExc_BaseException};
    });
}

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        // Already set where it happened.
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        try {
            PyErr_SetString(internal_fault_type(), e.what());
        } catch (...) {
            PyErr_SetString(PyExc_SystemError, e.what());
        }
    } catch (...) {
        try {
            PyErr_SetString(internal_fault_type(), "unknown C++ exception");
        } catch (...) {
            PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
        }
    }
}

}  // namespace remitrax::binding
