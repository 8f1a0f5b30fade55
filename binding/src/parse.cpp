// The whole-file road: parse() copies the input, then indexes, selects the spec and processes
// with the GIL released; the class Result and its helpers over the tables.
#include "parse.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "args.hpp"
#include "diagnostic.hpp"
#include "docs.hpp"
#include "document.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "process/processor.hpp"
#include "result_helpers.hpp"
#include "spec.hpp"
#include "tables.hpp"

namespace remitrax::binding {

namespace {

// ---- Input

// Single bytes: no format (taken as "B"), or "B", "b" or "c" after an optional native or
// big-endian prefix; a byte has no byte order, but "<" and "!" are not accepted.
bool single_byte_format(const char* format) {
    if (format == nullptr) {
        return true;
    }
    std::string_view f(format);
    if (!f.empty() && (f[0] == '@' || f[0] == '=' || f[0] == '>')) {
        f.remove_prefix(1);
    }
    return f == "B" || f == "b" || f == "c";
}

// What the refused object is, for the message: the format of its memoryview, else its type.
// Errors raised on the way are dropped, none chained to the refusal; a Ctrl-C, an exit or a
// lack of memory is raised instead.
std::string described(PyObject* data) {
    try {
        Ref builtins = checked(PyImport_ImportModule("builtins"));
        Ref view = checked(PyObject_CallMethod(builtins.get(), "memoryview", "(O)", data));
        Ref format = checked(PyObject_GetAttrString(view.get(), "format"));
        Ref repr = checked(PyObject_Repr(format.get()));
        return "format " + std::string(utf8(repr.get()));
    } catch (const PythonError&) {
        if (!replaceable_error()) {
            throw;
        }
        PyErr_Clear();
    }
    try {
        return "type " + type_name(data);
    } catch (const PythonError&) {
        if (!replaceable_error()) {
            throw;
        }
        PyErr_Clear();
    }
    return "type ?";
}

// The refusal's words up to what was found.
std::string refusal(const char* function) {
    return std::string(function) +
           ": argument data must be a buffer of unsigned bytes, format 'B', 'b' or 'c'; found ";
}

// Why a buffer of single bytes is still refused, or nothing when it is accepted.
std::optional<std::string> layout_refusal(const Py_buffer& view) {
    if (view.ndim == 0) {
        return " in a 0-dimensional buffer";
    }
    if (view.shape == nullptr || view.strides == nullptr) {
        return " in a buffer without shape or strides";
    }
    if (view.itemsize != 1) {
        return " in items of " + std::to_string(view.itemsize) + " bytes";
    }
    return std::nullopt;
}

// The caller's buffer, accepted as one of single bytes, held until it goes. Its bytes are
// read with the GIL held, as another thread may change a bytearray's contents meanwhile;
// only an exact bytes object, which cannot change, may be read without it.
class AcceptedInput {
  public:
    AcceptedInput(const char* function, PyObject* data) : unchanging_(PyBytes_CheckExact(data)) {
        if (PyUnicode_Check(data)) {
            raise(PyExc_TypeError,
                  "the input must be bytes or another buffer, not str: open the file in binary "
                  "mode or encode the text");
        }
        if (PyObject_GetBuffer(data, &view_, PyBUF_FULL_RO) != 0) {
            if (!replaceable_error()) {
                throw PythonError();
            }
            if (PyObject_CheckBuffer(data) == 0) {
                PyErr_Clear();
                raise(PyExc_TypeError, refusal(function) + described(data));
            }
            // A buffer object that cannot lend its buffer now (released, closed): its own
            // error says why, and becomes the cause.
            Ref cause = take_exception();
            Ref shown = checked(PyObject_Str(cause.get()));
            const std::string reason(utf8(shown.get()));
            restore_exception(std::move(cause));
            raise_from_current(PyExc_TypeError, refusal(function) + "type " + type_name(data) +
                                                    ", whose buffer cannot be read: " + reason);
        }
        held_ = true;
        if (!single_byte_format(view_.format)) {
            release();
            raise(PyExc_TypeError, refusal(function) + described(data));
        }
        if (const auto layout = layout_refusal(view_)) {
            release();
            raise(PyExc_TypeError, refusal(function) + described(data) + *layout);
        }
    }
    AcceptedInput(const AcceptedInput&) = delete;
    AcceptedInput& operator=(const AcceptedInput&) = delete;
    ~AcceptedInput() { release(); }

    std::uint64_t size() const { return static_cast<std::uint64_t>(view_.len); }

    // An exact bytes object: its bytes cannot change while it is held.
    bool unchanging() const { return unchanging_; }

    // The bytes in place, when they lie in one run.
    std::optional<std::string_view> contiguous() const {
        if (!PyBuffer_IsContiguous(&view_, 'C')) {
            return std::nullopt;
        }
        return std::string_view(static_cast<const char*>(view_.buf),
                                static_cast<std::size_t>(view_.len));
    }

    // An owned copy in row-major order, whatever the strides. Call with the GIL held.
    Buffer copy() const {
        const auto size = static_cast<std::size_t>(view_.len);
        Buffer copy = Buffer::uninitialized(size);
        if (size != 0) {
            if (const auto bytes = contiguous()) {
                std::memcpy(copy.data(), bytes->data(), size);
            } else {
                check(PyBuffer_ToContiguous(copy.data(), &view_, view_.len, 'C'));
            }
        }
        return copy;
    }

    // The owned copy of an unchanging input, which touches no Python object and may be taken
    // with the GIL released; this object keeps the bytes object alive meanwhile.
    Buffer copy_unchanging() const {
        return Buffer::copy_of(std::string_view(static_cast<const char*>(view_.buf),
                                                static_cast<std::size_t>(view_.len)));
    }

  private:
    void release() {
        if (held_) {
            PyBuffer_Release(&view_);
            held_ = false;
        }
    }

    Py_buffer view_{};
    bool held_ = false;
    bool unchanging_;
};

// An input over the document size limit raises, before it is copied, the error that
// indexing its copy would give: the header's when no delimiters were given and the header
// cannot be read, else the size's. Copying first would take as much memory and time as the
// input only to drop it, or run out of memory and hide the size error. A scattered buffer is
// left to the copy, which reads its header the usual way.
void refuse_oversized(const AcceptedInput& input, const std::optional<Delimiters>& delimiters) {
    if (input.size() <= max_document_size) {
        return;
    }
    if (!delimiters) {
        const auto bytes = input.contiguous();
        if (!bytes) {
            return;
        }
        auto read = Delimiters::from_isa_after_leading_trivia(*bytes);
        if (!read) {
            raise_parse_error(DocumentError{std::move(read.error())}.to_string());
        }
    }
    raise_parse_error(SizeError{input.size()}.to_string());
}

// ---- Result

// What one parse produced; set once at creation.
struct ParseResult {
    Ref document;
    Ref tables;
    Ref diagnostics;  // a list the caller may change, hence the GC support
};

const ParseResult& result_of(PyObject* self) {
    return value_of<ParseResult>(self);
}

int result_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    const ParseResult& result = result_of(self);
    Py_VISIT(result.document.get());
    Py_VISIT(result.tables.get());
    Py_VISIT(result.diagnostics.get());
    return 0;
}

int result_clear(PyObject* self) {
    ParseResult& result = value_of<ParseResult>(self);
    result.diagnostics.reset();
    result.tables.reset();
    result.document.reset();
    return 0;
}

PyObject* result_document(PyObject* self, void*) {
    return field_or_none(result_of(self).document);
}

PyObject* result_tables(PyObject* self, void*) {
    return field_or_none(result_of(self).tables);
}

PyObject* result_diagnostics(PyObject* self, void*) {
    return field_or_none(result_of(self).diagnostics);
}

Py_ssize_t length_of(const Ref& object) {
    if (!object) {
        return 0;
    }
    const Py_ssize_t length = PyObject_Length(object.get());
    if (length < 0) {
        throw PythonError();
    }
    return length;
}

PyObject* result_repr(PyObject* self) {
    return entry([&] {
        const ParseResult& result = result_of(self);
        return new_str("Result(segments=" + std::to_string(length_of(result.document)) +
                       ", tables=" + std::to_string(length_of(result.tables)) +
                       ", diagnostics=" + std::to_string(length_of(result.diagnostics)) + ")");
    });
}

// The core tables of a result; empty after the collector cleared it.
const Tables& result_tables_of(PyObject* self) {
    static const Tables none;
    const ParseResult& result = result_of(self);
    return result.tables ? *tables_of(result.tables.get()) : none;
}

// A helper's value, or its refusal raised as the Python exception of its kind.
template <class T>
T helper_value(std::expected<T, result_helpers::Error> value) {
    if (!value) {
        PyObject* type = PyExc_KeyError;
        if (value.error().kind == result_helpers::Error::Kind::Value) {
            type = PyExc_ValueError;
        } else if (value.error().kind == result_helpers::Error::Kind::Type) {
            type = PyExc_TypeError;
        }
        raise(type, value.error().message);
    }
    return std::move(*value);
}

Ref organization_of(PyObject* self, std::string_view which) {
    const auto fields = helper_value(result_helpers::organization(result_tables_of(self), which));
    if (!fields) {
        return Ref::borrow(Py_None);
    }
    Ref dict = checked(PyDict_New());
    for (std::size_t f = 0; f < result_helpers::organization_keys.size(); ++f) {
        const auto& text = (*fields)[f];
        Ref value = text ? new_str(*text) : Ref::borrow(Py_None);
        check(PyDict_SetItemString(
            dict.get(), std::string(result_helpers::organization_keys[f]).c_str(), value.get()));
    }
    return dict;
}

PyObject* result_payer(PyObject* self, void*) {
    return entry([&] { return organization_of(self, "payer"); });
}

PyObject* result_payee(PyObject* self, void*) {
    return entry([&] { return organization_of(self, "payee"); });
}

PyObject* result_count_claims(PyObject* self, PyObject*) {
    return entry([&] {
        return new_int(helper_value(result_helpers::count_claims(result_tables_of(self))));
    });
}

PyObject* result_count_patients(PyObject* self, PyObject*) {
    return entry([&] {
        return new_int(helper_value(result_helpers::count_patients(result_tables_of(self))));
    });
}

PyObject* result_sum_payments(PyObject* self, PyObject*) {
    return entry([&] {
        const std::string sum = helper_value(result_helpers::sum_payments(result_tables_of(self)));
        Ref decimal = checked(PyImport_ImportModule("decimal"));
        Ref type = checked(PyObject_GetAttrString(decimal.get(), "Decimal"));
        Ref text = new_str(sum);
        return checked(PyObject_CallFunctionObjArgs(type.get(), text.get(), nullptr));
    });
}

PyMethodDef result_methods[] = {
    {"count_claims", result_count_claims, METH_NOARGS, docs::result_count_claims},
    {"count_patients", result_count_patients, METH_NOARGS, docs::result_count_patients},
    {"sum_payments", result_sum_payments, METH_NOARGS, docs::result_sum_payments},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef result_getset[] = {
    {"document", result_document, nullptr, docs::result_document, nullptr},
    {"tables", result_tables, nullptr, docs::result_tables, nullptr},
    {"diagnostics", result_diagnostics, nullptr, docs::result_diagnostics, nullptr},
    {"payer", result_payer, nullptr, docs::result_payer, nullptr},
    {"payee", result_payee, nullptr, docs::result_payee, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot result_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::result)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<ParseResult>)},
    {Py_tp_traverse, reinterpret_cast<void*>(&result_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&result_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(&result_repr)},
    {Py_tp_getset, result_getset},
    {Py_tp_methods, result_methods},
    {0, nullptr},
};

PyType_Spec result_spec = {
    "remitrax._core.Result",
    sizeof(Object<ParseResult>),
    0,
    view_flags | Py_TPFLAGS_HAVE_GC,
    result_slots,
};

// ---- parse

// The work done without the GIL: no Python object is touched.
struct Parsed {
    Document document;
    RunResult run;
};

[[nodiscard]] std::expected<Parsed, std::string> parse_copy(
    Buffer input, std::shared_ptr<const Spec> given, const std::optional<Delimiters>& delimiters) {
    auto document = read_document(std::move(input), delimiters);
    if (!document) {
        return std::unexpected(std::move(document.error()));
    }
    std::shared_ptr<const Spec> spec = given_or_selected(std::move(given), document->segments());
    RunResult run = Processor::run(std::move(spec), *document);
    return Parsed{std::move(*document), std::move(run)};
}

PyObject* parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return entry([&] {
        static constexpr std::array<const char*, 3> names = {"data", "spec", "delimiters"};
        const auto [data, spec, delimiters] = bind_args("parse", names, 1, args, nargs, kwnames);
        std::shared_ptr<const Spec> given = given_spec(spec);
        const std::optional<Delimiters> own_delimiters = given_delimiters(delimiters);
        auto accepted = std::make_optional<AcceptedInput>("parse", data);
        refuse_oversized(*accepted, own_delimiters);
        // Any other buffer is copied now, before another thread can change it; an unchanging
        // one is copied below, without the GIL, and let go once the GIL is back.
        std::optional<Buffer> input;
        if (!accepted->unchanging()) {
            input = accepted->copy();
            accepted.reset();
        }

        auto parsed = [&] {
            const GilRelease released;
            Buffer own = input ? std::move(*input) : accepted->copy_unchanging();
            return parse_copy(std::move(own), std::move(given), own_delimiters);
        }();
        accepted.reset();
        if (!parsed) {
            raise_parse_error(parsed.error());
        }
        Ref diagnostics = to_list(std::move(parsed->run.diagnostics));
        Ref document = make_document(std::move(parsed->document));
        Ref tables = make_tables(std::move(parsed->run.tables));
        return make_object(result_type(), ParseResult{std::move(document), std::move(tables),
                                                      std::move(diagnostics)});
    });
}

}  // namespace

Buffer copy_input(const char* function, PyObject* data) {
    const AcceptedInput input(function, data);
    // Handing the GIL over and back costs more than copying a small input.
    constexpr std::uint64_t gil_free_copy = std::uint64_t{1} << 20;
    if (input.unchanging() && input.size() >= gil_free_copy) {
        const GilRelease released;
        return input.copy_unchanging();
    }
    return input.copy();
}

PyTypeObject* result_type() {
    static ProcessObject cell;
    return class_type(cell, result_spec);
}

PyMethodDef parse_def = {
    "parse",
    fastcall(&parse),
    METH_FASTCALL | METH_KEYWORDS,
    docs::parse,
};

}  // namespace remitrax::binding
