// Arguments of the module's functions and methods: binding by position or keyword with the
// interpreter's own parser and wording, and the conversions and checks of single arguments.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "python.hpp"

namespace remitrax::binding {

// A function's parameters, all positional-or-keyword, the first `required` of them without
// a default.
struct Signature {
    const char* function;  // the name messages show, e.g. "parse"
    std::span<const char* const> names;
    std::size_t required = 0;
};

// Binds the arguments of a METH_FASTCALL | METH_KEYWORDS call: out[i] is the argument given
// for names[i] (borrowed), or null when it was left out. A missing, surplus, repeated or
// unknown argument raises the interpreter's own TypeError (thrown as PythonError).
void bind_args(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames, std::span<PyObject*> out);

template <std::size_t N>
std::array<PyObject*, N> bind_args(const char* function, const std::array<const char*, N>& names,
                                   std::size_t required, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    std::array<PyObject*, N> out{};
    bind_args(Signature{function, names, required}, args, nargs, kwnames, out);
    return out;
}

// The same for a call whose arguments come as a tuple and a dict (a type's tp_new).
void bind_args(const Signature& signature, PyObject* args, PyObject* kwargs,
               std::span<PyObject*> out);

template <std::size_t N>
std::array<PyObject*, N> bind_args(const char* function, const std::array<const char*, N>& names,
                                   std::size_t required, PyObject* args, PyObject* kwargs) {
    std::array<PyObject*, N> out{};
    bind_args(Signature{function, names, required}, args, kwargs, out);
    return out;
}

// A METH_FASTCALL | METH_KEYWORDS function in the type a method table stores.
using FastcallFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
inline PyCFunction fastcall(FastcallFunction function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// `type(object).__name__`.
std::string type_name(PyObject* object);

// The interpreter's TypeError for an argument of the wrong type:
// "{function}() argument '{argument}' must be {expected}, not {type}".
[[noreturn]] void wrong_argument(std::string_view function, std::string_view argument,
                                 std::string_view expected, PyObject* value);

// The check of an optional class-typed argument: TypeError "'{type}' object is not an
// instance of '{class_name}'" with the note "while processing '{argument}'".
[[noreturn]] void not_an_instance(PyObject* value, std::string_view class_name,
                                  std::string_view argument);

// The UTF-8 text of a str, borrowed from it; a str that cannot be encoded (lone surrogates)
// raises the interpreter's UnicodeEncodeError.
std::string_view utf8(PyObject* text);
// The same after checking that `value` is a str.
std::string_view str_argument(std::string_view function, std::string_view argument,
                              PyObject* value);

// New Python values.
Ref new_str(std::string_view utf8);
Ref new_bytes(std::string_view bytes);
Ref new_int(std::uint64_t value);
Ref new_optional_int(const std::optional<std::uint64_t>& value);

// Adds `note` to the exception that is set (add_note), keeping it set; an exception that
// must pass unchanged (see replaceable_error) is left as it is.
void add_note(std::string_view note);

}  // namespace remitrax::binding
