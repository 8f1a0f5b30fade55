// The class Diagnostic: its members and text forms, the conversion of the core findings into a
// list of Diagnostic objects, and _external_diagnostic.
#include "diagnostic.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "args.hpp"
#include "docs.hpp"
#include "errors.hpp"
#include "objects.hpp"

namespace remitrax::binding {

namespace {

const Diagnostic& diagnostic_of(PyObject* self) {
    return value_of<Diagnostic>(self);
}

const Rule::External* external_of(const Diagnostic& diagnostic) {
    return std::get_if<Rule::External>(&diagnostic.rule.kind);
}

std::string_view origin_of(const Diagnostic& diagnostic) {
    const Rule::External* external = external_of(diagnostic);
    return external != nullptr ? std::string_view(external->origin) : "remitrax";
}

std::string position_text(const std::optional<std::uint64_t>& position) {
    return position ? std::to_string(*position) : std::string("None");
}

PyObject* diagnostic_level(PyObject* self, void*) {
    return entry([&] { return new_int(diagnostic_of(self).level.number()); });
}

PyObject* diagnostic_origin(PyObject* self, void*) {
    return entry([&] { return new_str(origin_of(diagnostic_of(self))); });
}

PyObject* diagnostic_code(PyObject* self, void*) {
    return entry([&] {
        const Rule::External* external = external_of(diagnostic_of(self));
        if (external == nullptr || !external->code) {
            return Ref::borrow(Py_None);
        }
        return new_str(*external->code);
    });
}

PyObject* diagnostic_kind(PyObject* self, void*) {
    return entry([&] { return new_str(diagnostic_of(self).rule.kind_name()); });
}

PyObject* diagnostic_rule(PyObject* self, void*) {
    return entry([&] { return new_str(diagnostic_of(self).rule.to_string()); });
}

PyObject* diagnostic_segment(PyObject* self, void*) {
    return entry([&] { return new_optional_int(diagnostic_of(self).segment); });
}

PyObject* diagnostic_element(PyObject* self, void*) {
    return entry([&] { return new_optional_int(diagnostic_of(self).element); });
}

PyObject* diagnostic_component(PyObject* self, void*) {
    return entry([&] { return new_optional_int(diagnostic_of(self).component); });
}

PyObject* diagnostic_path(PyObject* self, void*) {
    return entry([&] {
        std::string path;
        for (const LoopRef& loop : diagnostic_of(self).loops) {
            if (!path.empty()) {
                path += '/';
            }
            path += loop.to_string();
        }
        return new_str(path);
    });
}

PyObject* diagnostic_datum(PyObject* self, void*) {
    return entry([&] { return new_bytes(diagnostic_of(self).datum); });
}

PyObject* diagnostic_str(PyObject* self) {
    return entry([&] { return new_str(diagnostic_of(self).to_string()); });
}

PyObject* diagnostic_repr(PyObject* self) {
    return entry([&] {
        const Diagnostic& d = diagnostic_of(self);
        std::string text = "Diagnostic(level=" + std::to_string(d.level.number()) + ", origin='";
        text += origin_of(d);
        text += "', kind='";
        text += d.rule.kind_name();
        text += "', segment=" + position_text(d.segment) + ", element=" + position_text(d.element) +
                ", component=" + position_text(d.component) + ")";
        return new_str(text);
    });
}

PyGetSetDef diagnostic_getset[] = {
    {"level", diagnostic_level, nullptr, docs::diagnostic_level, nullptr},
    {"origin", diagnostic_origin, nullptr, docs::diagnostic_origin, nullptr},
    {"code", diagnostic_code, nullptr, docs::diagnostic_code, nullptr},
    {"kind", diagnostic_kind, nullptr, docs::diagnostic_kind, nullptr},
    {"rule", diagnostic_rule, nullptr, docs::diagnostic_rule, nullptr},
    {"segment", diagnostic_segment, nullptr, docs::diagnostic_segment, nullptr},
    {"element", diagnostic_element, nullptr, docs::diagnostic_element, nullptr},
    {"component", diagnostic_component, nullptr, docs::diagnostic_component, nullptr},
    {"path", diagnostic_path, nullptr, docs::diagnostic_path, nullptr},
    {"datum", diagnostic_datum, nullptr, docs::diagnostic_datum, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot diagnostic_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::diagnostic)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Diagnostic>)},
    {Py_tp_str, reinterpret_cast<void*>(&diagnostic_str)},
    {Py_tp_repr, reinterpret_cast<void*>(&diagnostic_repr)},
    {Py_tp_getset, diagnostic_getset},
    {0, nullptr},
};

PyType_Spec diagnostic_spec = {
    "remitrax._core.Diagnostic", sizeof(Object<Diagnostic>), 0, view_flags, diagnostic_slots,
};

// ---- _external_diagnostic

constexpr const char* external = "_external_diagnostic";

// `datum`: bytes, or another sequence of byte values. A str is refused rather than encoded:
// the finding's datum is the file's bytes, which a text does not tell.
std::string datum_argument(PyObject* value) {
    if (PyBytes_Check(value)) {
        char* data = nullptr;
        Py_ssize_t size = 0;
        check(PyBytes_AsStringAndSize(value, &data, &size));
        return std::string(data, static_cast<std::size_t>(size));
    }
    if (PyUnicode_Check(value)) {
        raise(PyExc_TypeError, "argument 'datum': Can't extract `str` to `Vec`");
    }
    if (!PySequence_Check(value)) {
        raise(PyExc_TypeError, "argument 'datum': '" + type_name(value) +
                                   "' object cannot be converted to 'Sequence'");
    }
    const Py_ssize_t size = PySequence_Size(value);
    if (size < 0) {
        throw PythonError();
    }
    std::string datum;
    datum.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
        Ref item = checked(PySequence_GetItem(value, i));
        if (!PyLong_Check(item.get())) {
            raise(PyExc_TypeError, "argument 'datum': '" + type_name(item.get()) +
                                       "' object cannot be interpreted as an integer");
        }
        const long byte = PyLong_AsLong(item.get());
        if (byte == -1 && PyErr_Occurred() != nullptr) {
            if (!replaceable_error()) {
                throw PythonError();
            }
            PyErr_Clear();
        }
        if (byte < 0 || byte > 255) {
            raise(PyExc_ValueError, "argument 'datum': bytes must be in range(0, 256)");
        }
        datum += static_cast<char>(byte);
    }
    return datum;
}

// `str()` of a Python object, for messages that quote a refused number.
std::string str_of(PyObject* value) {
    Ref text = checked(PyObject_Str(value));
    return std::string(utf8(text.get()));
}

// segment, element, component: absent, None, or an int that fits 64 unsigned bits.
std::optional<std::uint64_t> position_argument(const char* name, PyObject* value) {
    if (value == nullptr || value == Py_None) {
        return std::nullopt;
    }
    if (!PyLong_Check(value)) {
        raise(PyExc_TypeError, std::string("argument '") + name + "': '" + type_name(value) +
                                   "' object cannot be interpreted as an integer");
    }
    const unsigned long long position = PyLong_AsUnsignedLongLong(value);
    if (PyErr_Occurred() != nullptr) {
        // Negative or wider than 64 bits.
        if (!replaceable_error()) {
            throw PythonError();
        }
        PyErr_Clear();
        raise(PyExc_ValueError,
              std::string(name) + " must be a non-negative integer, got " + str_of(value));
    }
    return position;
}

// level: an int of 1, 2 or 3; stored as the SNIP level's value, one less.
std::uint8_t level_argument(PyObject* value) {
    if (!PyLong_Check(value)) {
        raise(PyExc_TypeError, "argument 'level': '" + type_name(value) +
                                   "' object cannot be interpreted as an integer");
    }
    const long long level = PyLong_AsLongLong(value);
    if (level == -1 && PyErr_Occurred() != nullptr) {
        if (!replaceable_error()) {
            throw PythonError();
        }
        PyErr_Clear();
        raise(PyExc_ValueError, "level must be 1, 2 or 3, got " + str_of(value));
    }
    if (level < 1 || level > 3) {
        raise(PyExc_ValueError, "level must be 1, 2 or 3, got " + std::to_string(level));
    }
    return static_cast<std::uint8_t>(level - 1);
}

PyObject* external_diagnostic(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return entry([&] {
        static constexpr std::array<const char*, 8> names = {
            "origin", "message", "level", "code", "segment", "element", "component", "datum"};
        const auto [origin, message, level, code, segment, element, component, datum] =
            bind_args(external, names, 3, args, nargs, kwnames);

        Rule::External rule;
        rule.origin = std::string(str_argument(external, "origin", origin));
        rule.message = std::string(str_argument(external, "message", message));
        if (code != nullptr && code != Py_None) {
            rule.code = std::string(str_argument(external, "code", code));
        }
        Diagnostic finding;
        if (datum != nullptr) {
            finding.datum = datum_argument(datum);
        }
        finding.segment = position_argument("segment", segment);
        finding.element = position_argument("element", element);
        finding.component = position_argument("component", component);
        rule.level = SnipLevel{level_argument(level)};
        finding.level = rule.level;
        finding.rule.kind = std::move(rule);
        return make_object(diagnostic_type(), std::move(finding));
    });
}

}  // namespace

PyTypeObject* diagnostic_type() {
    static ProcessObject cell;
    return class_type(cell, diagnostic_spec);
}

Ref to_list(std::vector<Diagnostic> diagnostics) {
    PyTypeObject* type = diagnostic_type();
    Ref list = checked(PyList_New(static_cast<Py_ssize_t>(diagnostics.size())));
    for (std::size_t i = 0; i < diagnostics.size(); ++i) {
        Ref item = make_object(type, std::move(diagnostics[i]));
        check(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release()));
    }
    return list;
}

PyMethodDef external_diagnostic_def = {
    external,
    fastcall(&external_diagnostic),
    METH_FASTCALL | METH_KEYWORDS,
    docs::external_diagnostic,
};

}  // namespace remitrax::binding
