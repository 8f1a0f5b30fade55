// The classes Document, Segment and Delimiters over the core's values, and read_document, the
// step of a parse that turns the input copy into a Document.
#include "document.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "args.hpp"
#include "docs.hpp"
#include "errors.hpp"
#include "objects.hpp"

namespace remitrax::binding {

namespace {

// A Segment object: its document and its position, nothing of the segment itself; every
// read parses the frame again.
struct SegmentRef {
    Ref document;
    std::size_t index = 0;
};

[[noreturn]] void out_of_range(const std::string& index, std::size_t count) {
    raise(PyExc_IndexError, "segment index " + index + " is out of range: the document has " +
                                std::to_string(count) + " segments");
}

// The text of Python's repr(bytes(value)).
std::string bytes_repr(std::string_view value) {
    Ref bytes = new_bytes(value);
    Ref repr = checked(PyObject_Repr(bytes.get()));
    return std::string(utf8(repr.get()));
}

// ---- Document

const Document& document_of(PyObject* self) {
    return value_of<Document>(self);
}

// The position `index` names among `count` segments, counting from the end when negative.
// The magnitude of a negative index is compared without negating it, which would overflow
// for the most negative value.
std::optional<std::size_t> resolve(std::int64_t index, std::size_t count) {
    if (index >= 0) {
        const auto at = static_cast<std::uint64_t>(index);
        return at < count ? std::optional<std::size_t>(at) : std::nullopt;
    }
    const std::uint64_t magnitude = static_cast<std::uint64_t>(-(index + 1)) + 1;
    return magnitude <= count ? std::optional<std::size_t>(count - magnitude) : std::nullopt;
}

Ref segment_at(PyObject* document, std::size_t index) {
    return make_object(segment_type(), SegmentRef{Ref::borrow(document), index});
}

Py_ssize_t document_len(PyObject* self) {
    return guarded<Py_ssize_t>(-1,
                               [&] { return static_cast<Py_ssize_t>(document_of(self).size()); });
}

// Document[index]: the index as the caller wrote it, so that a refusal shows it unchanged.
PyObject* document_subscript(PyObject* self, PyObject* key) {
    return entry([&] {
        if (!PyIndex_Check(key)) {
            wrong_argument("__getitem__", "index", "int", key);
        }
        Ref number = checked(PyNumber_Index(key));
        const long long index = PyLong_AsLongLong(number.get());
        if (index == -1 && PyErr_Occurred() != nullptr) {
            throw PythonError();
        }
        const std::size_t count = document_of(self).size();
        const auto at = resolve(index, count);
        if (!at) {
            out_of_range(std::to_string(index), count);
        }
        return segment_at(self, *at);
    });
}

// The sequence protocol's item, which iteration calls with 0, 1, 2, ... until IndexError.
PyObject* document_item(PyObject* self, Py_ssize_t index) {
    return entry([&] {
        const std::size_t count = document_of(self).size();
        const auto at = resolve(index, count);
        if (!at) {
            out_of_range(std::to_string(index), count);
        }
        return segment_at(self, *at);
    });
}

PyObject* document_write(PyObject* self, PyObject*) {
    return entry([&] { return new_bytes(document_of(self).bytes()); });
}

PyObject* document_delimiters(PyObject* self, void*) {
    return entry(
        [&] { return make_object(delimiters_type(), Delimiters(document_of(self).delimiters())); });
}

PyObject* document_repr(PyObject* self) {
    return entry([&] {
        const Document& document = document_of(self);
        return new_str("Document(segments=" + std::to_string(document.size()) +
                       ", bytes=" + std::to_string(document.bytes().size()) + ")");
    });
}

PyMethodDef document_methods[] = {
    {"write", document_write, METH_NOARGS, docs::document_write},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef document_getset[] = {
    {"delimiters", document_delimiters, nullptr, docs::document_delimiters, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot document_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::document)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Document>)},
    {Py_tp_repr, reinterpret_cast<void*>(&document_repr)},
    {Py_tp_methods, document_methods},
    {Py_tp_getset, document_getset},
    {Py_mp_length, reinterpret_cast<void*>(&document_len)},
    {Py_mp_subscript, reinterpret_cast<void*>(&document_subscript)},
    {Py_sq_length, reinterpret_cast<void*>(&document_len)},
    {Py_sq_item, reinterpret_cast<void*>(&document_item)},
    {0, nullptr},
};

PyType_Spec document_spec = {
    "remitrax._core.Document", sizeof(Object<Document>), 0, view_flags, document_slots,
};

// ---- Segment

// The segment, parsed again from its document.
Segment read_segment(PyObject* self) {
    const SegmentRef& ref = value_of<SegmentRef>(self);
    const Document& document = document_of(ref.document.get());
    auto segment = document.segment(ref.index);
    if (!segment) {
        out_of_range(std::to_string(ref.index), document.size());
    }
    return std::move(*segment);
}

PyObject* segment_index(PyObject* self, void*) {
    return entry([&] { return new_int(value_of<SegmentRef>(self).index); });
}

PyObject* segment_id(PyObject* self, void*) {
    return entry([&] { return new_bytes(read_segment(self).id()); });
}

PyObject* segment_elements(PyObject* self, void*) {
    return entry([&] {
        const Segment segment = read_segment(self);
        const auto elements = segment.elements();
        Ref list = checked(PyList_New(static_cast<Py_ssize_t>(elements.size())));
        for (std::size_t i = 0; i < elements.size(); ++i) {
            const Element& element = elements[i];
            Ref item;
            if (element.is_composite()) {
                const auto components = element.components();
                item = checked(PyList_New(static_cast<Py_ssize_t>(components.size())));
                for (std::size_t j = 0; j < components.size(); ++j) {
                    check(PyList_SetItem(item.get(), static_cast<Py_ssize_t>(j),
                                         new_bytes(components[j].bytes()).release()));
                }
            } else {
                item = new_bytes(element.value().bytes());
            }
            check(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release()));
        }
        return list;
    });
}

PyObject* segment_raw(PyObject* self, void*) {
    return entry([&] { return new_bytes(read_segment(self).raw()); });
}

PyObject* segment_span(PyObject* self, void*) {
    return entry([&] {
        const SegmentRef& ref = value_of<SegmentRef>(self);
        const Document& document = document_of(ref.document.get());
        const auto span = document.span(ref.index);
        if (!span) {
            out_of_range(std::to_string(ref.index), document.size());
        }
        Ref start = new_int(span->start);
        Ref end = new_int(span->end);
        return checked(PyTuple_Pack(2, start.get(), end.get()));
    });
}

PyObject* segment_repr(PyObject* self) {
    return entry([&] {
        const Segment segment = read_segment(self);
        return new_str("Segment(index=" + std::to_string(segment.index()) +
                       ", id=" + bytes_repr(segment.id()) + ")");
    });
}

PyGetSetDef segment_getset[] = {
    {"index", segment_index, nullptr, docs::segment_index, nullptr},
    {"id", segment_id, nullptr, docs::segment_id, nullptr},
    {"elements", segment_elements, nullptr, docs::segment_elements, nullptr},
    {"raw", segment_raw, nullptr, docs::segment_raw, nullptr},
    {"span", segment_span, nullptr, docs::segment_span, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot segment_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::segment)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<SegmentRef>)},
    {Py_tp_repr, reinterpret_cast<void*>(&segment_repr)},
    {Py_tp_getset, segment_getset},
    {0, nullptr},
};

PyType_Spec segment_spec = {
    "remitrax._core.Segment", sizeof(Object<SegmentRef>), 0, view_flags, segment_slots,
};

// ---- Delimiters

constexpr std::array<const char*, 5> delimiter_names = {"element", "component", "segment",
                                                        "repetition", "release"};

// The one byte of a delimiter argument.
char one_byte(const char* name, PyObject* value) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    check(PyBytes_AsStringAndSize(value, &data, &size));
    if (size != 1) {
        raise(PyExc_ValueError,
              std::string("delimiter ") + name + " must be exactly one byte, got " +
                  std::to_string(size) +
                  " bytes: " + bytes_repr({data, static_cast<std::size_t>(size)}));
    }
    return data[0];
}

PyObject* delimiters_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        std::array<PyObject*, 5> given = bind_args("Delimiters", delimiter_names, 0, args, kwargs);
        // Every argument's type first, then every length, each in parameter order.
        for (std::size_t i = 0; i < given.size(); ++i) {
            if (given[i] == Py_None && i >= 3) {
                given[i] = nullptr;
            }
            if (given[i] != nullptr && !PyBytes_Check(given[i])) {
                wrong_argument("Delimiters", delimiter_names[i], i >= 3 ? "bytes or None" : "bytes",
                               given[i]);
            }
        }
        Delimiters delimiters;
        char* const fields[] = {&delimiters.element, &delimiters.component, &delimiters.segment};
        for (std::size_t i = 0; i < 3; ++i) {
            if (given[i] != nullptr) {
                *fields[i] = one_byte(delimiter_names[i], given[i]);
            }
        }
        if (given[3] != nullptr) {
            delimiters.repetition = one_byte(delimiter_names[3], given[3]);
        }
        if (given[4] != nullptr) {
            delimiters.release = one_byte(delimiter_names[4], given[4]);
        }
        return make_object(type, delimiters);
    });
}

Ref byte_value(char byte) {
    return new_bytes(std::string_view(&byte, 1));
}

Ref optional_byte(const std::optional<char>& byte) {
    return byte ? byte_value(*byte) : Ref::borrow(Py_None);
}

PyObject* delimiters_element(PyObject* self, void*) {
    return entry([&] { return byte_value(delimiters_of(self).element); });
}

PyObject* delimiters_component(PyObject* self, void*) {
    return entry([&] { return byte_value(delimiters_of(self).component); });
}

PyObject* delimiters_segment(PyObject* self, void*) {
    return entry([&] { return byte_value(delimiters_of(self).segment); });
}

PyObject* delimiters_repetition(PyObject* self, void*) {
    return entry([&] { return optional_byte(delimiters_of(self).repetition); });
}

PyObject* delimiters_release(PyObject* self, void*) {
    return entry([&] { return optional_byte(delimiters_of(self).release); });
}

PyObject* delimiters_repr(PyObject* self) {
    return entry([&] {
        const Delimiters& d = delimiters_of(self);
        const auto shown = [](const std::optional<char>& byte) {
            return byte ? bytes_repr(std::string_view(&*byte, 1)) : std::string("None");
        };
        return new_str("Delimiters(element=" + shown(d.element) +
                       ", component=" + shown(d.component) + ", segment=" + shown(d.segment) +
                       ", repetition=" + shown(d.repetition) + ", release=" + shown(d.release) +
                       ")");
    });
}

// Equality of all five delimiters; every other comparison, and any other operand, is left
// to Python.
PyObject* delimiters_compare(PyObject* self, PyObject* other, int op) {
    return entry([&] {
        if ((op != Py_EQ && op != Py_NE) || !is_instance(other, delimiters_type())) {
            return Ref::borrow(Py_NotImplemented);
        }
        const bool equal = delimiters_of(self) == delimiters_of(other);
        return Ref::borrow(equal == (op == Py_EQ) ? Py_True : Py_False);
    });
}

PyGetSetDef delimiters_getset[] = {
    {"element", delimiters_element, nullptr, docs::delimiters_element, nullptr},
    {"component", delimiters_component, nullptr, docs::delimiters_component, nullptr},
    {"segment", delimiters_segment, nullptr, docs::delimiters_segment, nullptr},
    {"repetition", delimiters_repetition, nullptr, docs::delimiters_repetition, nullptr},
    {"release", delimiters_release, nullptr, docs::delimiters_release, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot delimiters_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::delimiters)},
    {Py_tp_new, reinterpret_cast<void*>(&delimiters_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Delimiters>)},
    {Py_tp_repr, reinterpret_cast<void*>(&delimiters_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&delimiters_compare)},
    // Equal objects must hash equally, and these compare by value: unhashable.
    {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
    {Py_tp_getset, delimiters_getset},
    {0, nullptr},
};

PyType_Spec delimiters_spec = {
    "remitrax._core.Delimiters", sizeof(Object<Delimiters>), 0, class_flags, delimiters_slots,
};

}  // namespace

PyTypeObject* document_type() {
    static ProcessObject cell;
    return class_type(cell, document_spec);
}

PyTypeObject* segment_type() {
    static ProcessObject cell;
    return class_type(cell, segment_spec);
}

PyTypeObject* delimiters_type() {
    static ProcessObject cell;
    return class_type(cell, delimiters_spec);
}

std::expected<Document, std::string> read_document(Buffer input,
                                                   const std::optional<Delimiters>& delimiters) {
    if (delimiters) {
        auto document = Document::with_delimiters(std::move(input), *delimiters);
        if (!document) {
            return std::unexpected(document.error().to_string());
        }
        return std::move(*document);
    }
    auto document = Document::parse(std::move(input));
    if (!document) {
        return std::unexpected(document.error().to_string());
    }
    return std::move(*document);
}

Ref make_document(Document document) {
    return make_object(document_type(), std::move(document));
}

const Delimiters& delimiters_of(PyObject* delimiters) {
    return value_of<Delimiters>(delimiters);
}

std::optional<Delimiters> given_delimiters(PyObject* delimiters) {
    if (delimiters == nullptr || delimiters == Py_None) {
        return std::nullopt;
    }
    if (!is_instance(delimiters, delimiters_type())) {
        not_an_instance(delimiters, "Delimiters", "delimiters");
    }
    return delimiters_of(delimiters);
}

}  // namespace remitrax::binding
