#include "errors.hpp"

#include <utility>

#include "docs.hpp"
#include "spec/error.hpp"

namespace remitrax::binding {

namespace {

PyObject* new_exception(const char* name, const char* doc, PyObject* base) {
    PyObject* type = PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
    if (type == nullptr) {
        if (!replaceable_error()) {
            throw PythonError();
        }
        PyErr_Clear();
        throw InternalFault("Failed to initialize new exception type.");
    }
    return type;
}

}  // namespace

PyObject* parse_error_type() {
    static ProcessObject cell;
    return cell.get(
        [] { return new_exception("remitrax.ParseError", docs::parse_error, PyExc_ValueError); });
}

PyObject* spec_error_type() {
    static ProcessObject cell;
    return cell.get(
        [] { return new_exception("remitrax.SpecError", docs::spec_error, PyExc_ValueError); });
}

PyObject* internal_fault_type() {
    static ProcessObject cell;
    return cell.get([] {
        return new_exception(
            "remitrax.InternalFault",
            "An internal fault of remitrax: a broken invariant reached the Python boundary. It "
            "derives from BaseException, so `except Exception` does not hide it.",
            PyExc_BaseException);
    });
}

void raise(PyObject* type, std::string_view message) {
    Ref text(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) {
        PyErr_SetObject(type, text.get());
    }
    throw PythonError();
}

void raise_parse_error(std::string_view message) {
    raise(parse_error_type(), message);
}

void raise_spec_error(const SpecError& error) {
    raise(spec_error_type(), error.to_string());
}

void raise_from_current(PyObject* type, std::string_view message) {
    Ref cause = take_exception();
    Ref text = checked(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    Ref error = checked(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
    if (cause) {
        // The cause, and the context it would have had.
        PyException_SetContext(error.get(), Ref::borrow(cause.get()).release());
        PyException_SetCause(error.get(), cause.release());
    }
    restore_exception(std::move(error));
    throw PythonError();
}

bool replaceable_error() {
    return PyErr_ExceptionMatches(PyExc_Exception) != 0 &&
           PyErr_ExceptionMatches(PyExc_MemoryError) == 0;
}

Ref take_exception() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref owned_type(type);
    Ref owned_traceback(traceback);
    Ref exception(value);
    if (exception && owned_traceback) {
        PyException_SetTraceback(exception.get(), owned_traceback.get());
    }
    return exception;
}

void restore_exception(Ref exception) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception.get()));
    Py_INCREF(type);
    PyErr_Restore(type, exception.release(), nullptr);
}

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        // Set where it happened; its absence is a fault of the module.
        if (PyErr_Occurred() == nullptr) {
            try {
                PyErr_SetString(internal_fault_type(), "a Python call failed without an error");
            } catch (...) {
                PyErr_SetString(PyExc_SystemError, "a Python call failed without an error");
            }
        }
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
