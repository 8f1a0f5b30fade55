// Binding the arguments of a call by position or keyword, through the interpreter's own parser
// so that its errors read as the interpreter's, and the checks and conversions of single
// arguments.
#include "args.hpp"

#include <utility>

#include "errors.hpp"

namespace remitrax::binding {

namespace {

// The most parameters any function of the module has.
constexpr std::size_t max_params = 8;

// Binds through the interpreter's parser, which binds keywords and words every refusal as it
// does for its own functions. The objects it hands back are the caller's, held by the
// caller's frame, so they outlive `positional` and `named`.
void parse_tuple(const Signature& signature, PyObject* positional, PyObject* named,
                 std::span<PyObject*> out) {
    const std::size_t count = signature.names.size();
    std::string format(signature.required, 'O');
    if (signature.required < count) {
        format += '|';
        format.append(count - signature.required, 'O');
    }
    format += ':';
    format += signature.function;
    std::array<char*, max_params + 1> keywords_list{};
    for (std::size_t i = 0; i < count; ++i) {
        keywords_list[i] = const_cast<char*>(signature.names[i]);
    }
    std::array<PyObject*, max_params> found{};
    if (!PyArg_ParseTupleAndKeywords(positional, named, format.c_str(), keywords_list.data(),
                                     &found[0], &found[1], &found[2], &found[3], &found[4],
                                     &found[5], &found[6], &found[7])) {
        throw PythonError();
    }
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = found[i];
    }
}

void check_signature(const Signature& signature, std::span<PyObject*> out) {
    if (signature.names.size() > max_params || out.size() != signature.names.size()) {
        throw InternalFault("a signature with too many parameters");
    }
}

}  // namespace

void bind_args(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames, std::span<PyObject*> out) {
    check_signature(signature, out);
    const std::size_t count = signature.names.size();
    const auto given = static_cast<std::size_t>(nargs);
    const bool keywords = kwnames != nullptr && PyTuple_Size(kwnames) > 0;
    if (!keywords && given >= signature.required && given <= count) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = i < given ? args[i] : nullptr;
        }
        return;
    }
    Ref positional = checked(PyTuple_New(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        Py_INCREF(args[i]);
        check(PyTuple_SetItem(positional.get(), i, args[i]));
    }
    Ref named;
    if (keywords) {
        named = checked(PyDict_New());
        const Py_ssize_t n = PyTuple_Size(kwnames);
        for (Py_ssize_t i = 0; i < n; ++i) {
            check(PyDict_SetItem(named.get(), PyTuple_GetItem(kwnames, i), args[nargs + i]));
        }
    }
    parse_tuple(signature, positional.get(), named.get(), out);
}

void bind_args(const Signature& signature, PyObject* args, PyObject* kwargs,
               std::span<PyObject*> out) {
    check_signature(signature, out);
    const std::size_t count = signature.names.size();
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (nargs < 0) {
        throw PythonError();
    }
    const auto given = static_cast<std::size_t>(nargs);
    const bool keywords = kwargs != nullptr && PyDict_Size(kwargs) > 0;
    if (!keywords && given >= signature.required && given <= count) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = i < given ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)) : nullptr;
        }
        return;
    }
    parse_tuple(signature, args, kwargs, out);
}

std::string type_name(PyObject* object) {
    Ref name(PyType_GetName(Py_TYPE(object)));
    if (!name) {
        throw PythonError();
    }
    return std::string(utf8(name.get()));
}

void wrong_argument(std::string_view function, std::string_view argument, std::string_view expected,
                    PyObject* value) {
    std::string message(function);
    message += "() argument '";
    message += argument;
    message += "' must be ";
    message += expected;
    message += ", not ";
    message += type_name(value);
    raise(PyExc_TypeError, message);
}

void not_an_instance(PyObject* value, std::string_view class_name, std::string_view argument) {
    std::string message = "'";
    message += type_name(value);
    message += "' object is not an instance of '";
    message += class_name;
    message += "'";
    try {
        raise(PyExc_TypeError, message);
    } catch (const PythonError&) {
        std::string note = "while processing '";
        note += argument;
        note += "'";
        add_note(note);
        throw;
    }
}

std::string_view utf8(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        throw PythonError();
    }
    return {data, static_cast<std::size_t>(size)};
}

std::string_view str_argument(std::string_view function, std::string_view argument,
                              PyObject* value) {
    if (!PyUnicode_Check(value)) {
        wrong_argument(function, argument, "str", value);
    }
    return utf8(value);
}

Ref new_str(std::string_view text) {
    return checked(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

Ref new_bytes(std::string_view bytes) {
    return checked(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}

Ref new_int(std::uint64_t value) {
    return checked(PyLong_FromUnsignedLongLong(value));
}

Ref new_optional_int(const std::optional<std::uint64_t>& value) {
    if (!value) {
        return Ref::borrow(Py_None);
    }
    return new_int(*value);
}

void add_note(std::string_view note) {
    if (!replaceable_error()) {
        return;
    }
    Ref exception = take_exception();
    if (exception) {
        Ref text = new_str(note);
        Ref done = checked(PyObject_CallMethod(exception.get(), "add_note", "(O)", text.get()));
        restore_exception(std::move(exception));
    }
}

}  // namespace remitrax::binding
