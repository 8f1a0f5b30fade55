#include "objects.hpp"

#include <string>

namespace remitrax::binding {

PyTypeObject* class_type(ProcessObject& cell, PyType_Spec& spec) {
    return reinterpret_cast<PyTypeObject*>(cell.get([&] {
        PyObject* type = PyType_FromSpec(&spec);
        if (type == nullptr) {
            if (!replaceable_error()) {
                throw PythonError();
            }
            PyErr_Clear();
            throw InternalFault(std::string("Failed to initialize the class ") + spec.name + ".");
        }
        return type;
    }));
}

}  // namespace remitrax::binding
