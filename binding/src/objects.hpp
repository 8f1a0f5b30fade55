// Python objects that hold one C++ value, and the heap types they belong to.
//
// Every class of the module is a heap type made from a PyType_Spec once per process, named
// "remitrax._core.<Name>" (so its __module__ is "remitrax._core"), immutable and closed to
// subclassing. An object is the Python header followed by its value, constructed in place
// after allocation and destroyed before the memory goes back to the type's allocator.
#pragma once

#include <Python.h>

#include <new>
#include <type_traits>
#include <utility>

#include "errors.hpp"
#include "python.hpp"

namespace remitrax::binding {

template <class T>
struct Object {
    PyObject_HEAD T value;
};

template <class T>
T& value_of(PyObject* self) {
    return reinterpret_cast<Object<T>*>(self)->value;
}

// Immutable and closed to subclassing.
inline constexpr unsigned int class_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
// The same without a constructor: calling the class raises TypeError.
inline constexpr unsigned int view_flags = class_flags | Py_TPFLAGS_DISALLOW_INSTANTIATION;

// A new object of `type` holding `value`. The value is built before the allocation so that
// nothing can fail between the two.
template <class T>
Ref make_object(PyTypeObject* type, T value) {
    static_assert(std::is_nothrow_move_constructible_v<T>);
    const auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (self == nullptr) {
        throw PythonError();
    }
    new (&reinterpret_cast<Object<T>*>(self)->value) T(std::move(value));
    return Ref(self);
}

// The tp_dealloc of a type whose objects hold a T. A heap type's instances hold a reference
// to it, dropped last.
template <class T>
void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    if (PyType_IS_GC(type)) {
        PyObject_GC_UnTrack(self);
    }
    value_of<T>(self).~T();
    const auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);
}

// The heap type of `spec`, made on first use and kept for the life of the process.
PyTypeObject* class_type(ProcessObject& cell, PyType_Spec& spec);

// True when `object`'s type is exactly `type` (the classes cannot be subclassed).
inline bool is_instance(PyObject* object, PyTypeObject* type) {
    return Py_TYPE(object) == type;
}

}  // namespace remitrax::binding
