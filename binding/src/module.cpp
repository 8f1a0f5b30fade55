// The door of remitrax._core: the exported entry point, the module definition and the one
// exec step that fills a new module object.
#include <Python.h>

#include <exception>
#include <string>
#include <utility>

#include "args.hpp"
#include "diagnostic.hpp"
#include "docs.hpp"
#include "document.hpp"
#include "errors.hpp"
#include "parse.hpp"
#include "python.hpp"
#include "spec.hpp"
#include "spec/builtin.hpp"
#include "stream.hpp"
#include "tables.hpp"

namespace remitrax::binding {

namespace {

// Appends `name` to the module's __all__ (made on first use), then sets the attribute.
void add(PyObject* module, const char* name, Ref value) {
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            throw PythonError();
        }
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            throw PythonError();
        }
    }
    if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "`__all__` must be a list");
        throw PythonError();
    }
    Ref text(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) {
        if (!replaceable_error()) {
            throw PythonError();
        }
        PyErr_Clear();
        throw InternalFault("could not append to `__all__`");
    }
    if (PyObject_SetAttrString(module, name, value.get()) < 0) {
        throw PythonError();
    }
}

// Adds the module's contents in their fixed order; the first failure ends the import and
// leaves what was added in the half-built module, which the interpreter discards.
void add_class(PyObject* module, PyTypeObject* type) {
    Ref name = checked(PyType_GetName(type));
    Ref object = Ref::borrow(reinterpret_cast<PyObject*>(type));
    add(module, std::string(utf8(name.get())).c_str(), std::move(object));
}

void add_function(PyObject* module, PyMethodDef& def) {
    Ref module_name = checked(PyModule_GetNameObject(module));
    add(module, def.ml_name, checked(PyCFunction_NewEx(&def, module, module_name.get())));
}

void core_module(PyObject* module) {
    add(module, "ParseError", Ref::borrow(parse_error_type()));
    add(module, "SpecError", Ref::borrow(spec_error_type()));
    add_class(module, diagnostic_type());
    add_class(module, delimiters_type());
    add_class(module, document_type());
    add_class(module, segment_type());
    add_class(module, result_type());
    add_class(module, spec_type());
    add_class(module, batch_type());
    add_class(module, stream_type());
    add_class(module, table_type());
    add_class(module, tables_type());
    add_function(module, external_diagnostic_def);
    add_function(module, parse_def);
    add_function(module, stream_def);
    add(module, "TABULON_PATCH", new_str(builtin::tabulon_patch()));
}

int exec_core(PyObject* module) {
    // The C++ runtime keeps a thread's exception state in thread-local storage of its shared
    // library, which the loader allocates on first use and, failing that, ends the process.
    // Touched here, it is in place for the importing thread's first exception, even one
    // thrown because memory ran out (std::bad_alloc). The volatile store keeps the call.
    [[maybe_unused]] const volatile int in_flight = std::uncaught_exceptions();
    return guarded(-1, [&] {
        if (module == nullptr) {
            return -1;
        }
        if (!PyModule_Check(module)) {
            PyErr_SetString(PyExc_TypeError, "expected a module object");
            return -1;
        }
        core_module(module);
        return 0;
    });
}

PyModuleDef_Slot core_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_core)},
    {0, nullptr},
};

PyModuleDef core_def = {
    PyModuleDef_HEAD_INIT, "_core", docs::module, 0, nullptr, core_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace remitrax::binding

// PyMODINIT_FUNC already gives C linkage when compiled as C++ (extern "C"); clang refuses a
// second extern (-Wduplicate-decl-specifier).
PyMODINIT_FUNC PyInit__core() {
    return PyModuleDef_Init(&remitrax::binding::core_def);
}
