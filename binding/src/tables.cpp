// The classes Tables and Table over the shared tables: lookups, text forms, the Arrow PyCapsule
// export and the conversions to pandas and polars.
#include "tables.hpp"

#include <array>
#include <memory>
#include <string>
#include <utility>

#include "args.hpp"
#include "arrow.hpp"
#include "docs.hpp"
#include "errors.hpp"
#include "objects.hpp"

namespace remitrax::binding {

namespace {

using SharedTables = std::shared_ptr<const Tables>;

// A Table object: the tables it belongs to and its place among them.
struct TableRef {
    SharedTables tables;
    std::size_t index = 0;
};

const TableRef& ref_of(PyObject* self) {
    return value_of<TableRef>(self);
}

// The core table of a Table object.
const Table& table_of(PyObject* self) {
    const TableRef& ref = ref_of(self);
    if (ref.index >= ref.tables->size()) {
        raise(PyExc_RuntimeError, "table #" + std::to_string(ref.index) + " is gone");
    }
    return ref.tables->tables()[ref.index];
}

Ref new_table(const SharedTables& tables, std::size_t index) {
    return make_object(table_type(), TableRef{tables, index});
}

std::string joined_names(const Tables& tables) {
    std::string names;
    for (const Table& table : tables) {
        if (!names.empty()) {
            names += ", ";
        }
        names += table.name();
    }
    return names;
}

// Text made without the GIL, handed back as a str.
template <class Render>
Ref rendered(Render&& render) {
    std::string text;
    {
        const GilRelease released;
        text = render();
    }
    return new_str(text);
}

// ---- Optional packages

// Imports `module`, or raises ImportError with the install hint, caused by the failed import.
// An import stopped by a Ctrl-C, an exit or a lack of memory raises that instead.
Ref extra(const char* owner, const char* method, const char* module, const char* extra_name) {
    Ref imported(PyImport_ImportModule(module));
    if (imported) {
        return imported;
    }
    if (!replaceable_error()) {
        throw PythonError();
    }
    raise_from_current(PyExc_ImportError,
                       std::string(owner) + "." + method + " needs " + module +
                           ", which is not installed; install it with: pip install "
                           "\"remitrax[" +
                           extra_name + "]\"");
}

Ref to_pandas(const char* owner, PyObject* table) {
    extra(owner, "to_pandas", "pandas", "pandas");
    Ref pyarrow = extra(owner, "to_pandas", "pyarrow", "pandas");
    Ref arrow_table = checked(PyObject_CallMethod(pyarrow.get(), "table", "(O)", table));
    return checked(PyObject_CallMethod(arrow_table.get(), "to_pandas", nullptr));
}

Ref to_polars(const char* owner, PyObject* table) {
    Ref polars = extra(owner, "to_polars", "polars", "polars");
    return checked(PyObject_CallMethod(polars.get(), "DataFrame", "(O)", table));
}

// ---- Tables

PyObject* tables_keys(PyObject* self, PyObject*) {
    return entry([&] {
        const Tables& tables = *tables_of(self);
        Ref list = checked(PyList_New(static_cast<Py_ssize_t>(tables.size())));
        for (std::size_t i = 0; i < tables.size(); ++i) {
            check(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                                 new_str(tables.tables()[i].name()).release()));
        }
        return list;
    });
}

Py_ssize_t tables_len(PyObject* self) {
    return guarded<Py_ssize_t>(-1,
                               [&] { return static_cast<Py_ssize_t>(tables_of(self)->size()); });
}

// Iterates the names as they were when iter() was called.
PyObject* tables_iter(PyObject* self) {
    return entry([&] {
        const Tables& tables = *tables_of(self);
        Ref names = checked(PyTuple_New(static_cast<Py_ssize_t>(tables.size())));
        for (std::size_t i = 0; i < tables.size(); ++i) {
            check(PyTuple_SetItem(names.get(), static_cast<Py_ssize_t>(i),
                                  new_str(tables.tables()[i].name()).release()));
        }
        return checked(PyObject_GetIter(names.get()));
    });
}

// `key in tables`: true only for a str naming a table; never an error for other keys.
int tables_contains(PyObject* self, PyObject* key) {
    return guarded(-1, [&] {
        if (!PyUnicode_Check(key)) {
            return 0;
        }
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(key, &size);
        if (data == nullptr) {
            // Text that has no UTF-8 form names no table.
            if (!replaceable_error()) {
                throw PythonError();
            }
            PyErr_Clear();
            return 0;
        }
        return tables_of(self)->get({data, static_cast<std::size_t>(size)}) != nullptr ? 1 : 0;
    });
}

PyObject* tables_subscript(PyObject* self, PyObject* key) {
    return entry([&] {
        if (!PyUnicode_Check(key)) {
            wrong_argument("__getitem__", "name", "str", key);
        }
        const std::string_view name = utf8(key);
        const SharedTables& tables = tables_of(self);
        for (std::size_t i = 0; i < tables->size(); ++i) {
            if (tables->tables()[i].name() == name) {
                return new_table(tables, i);
            }
        }
        std::string message = "there is no table \"";
        message += name;
        message += "\"; the tables are: " + joined_names(*tables);
        raise(PyExc_KeyError, message);
    });
}

PyObject* tables_render(PyObject* self, PyObject*) {
    return entry([&] {
        const SharedTables tables = tables_of(self);
        return rendered([&] { return tables->to_string(); });
    });
}

// Every table converted by `convert`, by name, in table order.
template <class Convert>
Ref converted(PyObject* self, Convert&& convert) {
    const SharedTables& tables = tables_of(self);
    Ref frames = checked(PyDict_New());
    for (std::size_t i = 0; i < tables->size(); ++i) {
        Ref table = new_table(tables, i);
        Ref name = new_str(table_of(table.get()).name());
        Ref frame = convert("Tables", table.get());
        check(PyDict_SetItem(frames.get(), name.get(), frame.get()));
    }
    return frames;
}

PyObject* tables_to_pandas(PyObject* self, PyObject*) {
    return entry([&] { return converted(self, to_pandas); });
}

PyObject* tables_to_polars(PyObject* self, PyObject*) {
    return entry([&] { return converted(self, to_polars); });
}

PyObject* tables_repr(PyObject* self) {
    return entry([&] {
        std::string text = "Tables(";
        bool first = true;
        for (const Table& table : *tables_of(self)) {
            if (!first) {
                text += ", ";
            }
            first = false;
            text += table.name() + ": " + std::to_string(table.rows()) + " rows";
        }
        text += ")";
        return new_str(text);
    });
}

PyMethodDef tables_methods[] = {
    {"keys", tables_keys, METH_NOARGS, docs::tables_keys},
    {"render", tables_render, METH_NOARGS, docs::tables_render},
    {"to_pandas", tables_to_pandas, METH_NOARGS, docs::tables_to_pandas},
    {"to_polars", tables_to_polars, METH_NOARGS, docs::tables_to_polars},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot tables_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::tables)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<SharedTables>)},
    {Py_tp_repr, reinterpret_cast<void*>(&tables_repr)},
    {Py_tp_iter, reinterpret_cast<void*>(&tables_iter)},
    {Py_tp_methods, tables_methods},
    {Py_mp_length, reinterpret_cast<void*>(&tables_len)},
    {Py_mp_subscript, reinterpret_cast<void*>(&tables_subscript)},
    {Py_sq_contains, reinterpret_cast<void*>(&tables_contains)},
    {0, nullptr},
};

PyType_Spec tables_spec = {
    "remitrax._core.Tables", sizeof(Object<SharedTables>), 0, view_flags, tables_slots,
};

// ---- Table

PyObject* table_name(PyObject* self, void*) {
    return entry([&] { return new_str(table_of(self).name()); });
}

PyObject* table_columns(PyObject* self, void*) {
    return entry([&] {
        const auto& columns = table_of(self).columns();
        Ref list = checked(PyList_New(static_cast<Py_ssize_t>(columns.size())));
        for (std::size_t i = 0; i < columns.size(); ++i) {
            check(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                                 new_str(columns[i].name).release()));
        }
        return list;
    });
}

Py_ssize_t table_len(PyObject* self) {
    return guarded<Py_ssize_t>(-1, [&] { return static_cast<Py_ssize_t>(table_of(self).rows()); });
}

PyObject* table_repr(PyObject* self) {
    return entry([&] {
        const Table& table = table_of(self);
        return new_str("Table(name='" + table.name() + "', rows=" + std::to_string(table.rows()) +
                       ", columns=" + std::to_string(table.columns().size()) + ")");
    });
}

PyObject* table_render(PyObject* self, PyObject*) {
    return entry([&] {
        const Table& table = table_of(self);
        // The Table object, and with it the shared tables, lives through the call.
        return rendered([&] { return table.to_string(); });
    });
}

PyObject* table_to_pandas(PyObject* self, PyObject*) {
    return entry([&] { return to_pandas("Table", self); });
}

PyObject* table_to_polars(PyObject* self, PyObject*) {
    return entry([&] { return to_polars("Table", self); });
}

// The capsule destructors: the structure is released unless a consumer took it over (and
// set its release callback to null); the block is freed either way.
template <class T>
void destroy_capsule(PyObject* capsule, const char* name) {
    auto* block = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
    if (block == nullptr) {
        PyErr_Clear();
        return;
    }
    if (block->release != nullptr) {
        block->release(block);
    }
    delete block;
}

void destroy_schema_capsule(PyObject* capsule) {
    destroy_capsule<ArrowSchema>(capsule, "arrow_schema");
}

void destroy_array_capsule(PyObject* capsule) {
    destroy_capsule<ArrowArray>(capsule, "arrow_array");
}

void destroy_stream_capsule(PyObject* capsule) {
    destroy_capsule<ArrowArrayStream>(capsule, "arrow_array_stream");
}

// Moves an exported structure into a new heap block owned by a capsule named `name`.
template <class T>
Ref capsule(arrow::Owned<T>& exported, const char* name, PyCapsule_Destructor destroy) {
    auto block = std::make_unique<T>();
    exported.move_to(block.get());
    Ref made(PyCapsule_New(block.get(), name, destroy));
    if (!made) {
        block->release(block.get());
        throw PythonError();
    }
    block.release();  // the capsule owns it now
    return made;
}

template <class T>
T exported(std::expected<T, std::string> result) {
    if (!result) {
        raise(PyExc_RuntimeError, result.error());
    }
    return std::move(*result);
}

PyObject* table_arrow_schema(PyObject* self, PyObject*) {
    return entry([&] {
        const TableRef& ref = ref_of(self);
        arrow::Schema schema = exported(arrow::schema(ref.tables, ref.index));
        return capsule(schema, "arrow_schema", destroy_schema_capsule);
    });
}

constexpr std::array<const char*, 1> requested_schema = {"requested_schema"};

PyObject* table_arrow_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return entry([&] {
        // The requested schema is never looked at: the table keeps its own types.
        bind_args("__arrow_c_array__", requested_schema, 0, args, nargs, kwnames);
        const TableRef& ref = ref_of(self);
        arrow::ArrayExport done = exported([&] {
            const GilRelease released;
            return arrow::array(ref.tables, ref.index);
        }());
        Ref schema = capsule(done.schema, "arrow_schema", destroy_schema_capsule);
        Ref array = capsule(done.array, "arrow_array", destroy_array_capsule);
        return checked(PyTuple_Pack(2, schema.get(), array.get()));
    });
}

PyObject* table_arrow_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return entry([&] {
        bind_args("__arrow_c_stream__", requested_schema, 0, args, nargs, kwnames);
        const TableRef& ref = ref_of(self);
        arrow::Stream stream = exported([&] {
            const GilRelease released;
            return arrow::stream(ref.tables, ref.index);
        }());
        return capsule(stream, "arrow_array_stream", destroy_stream_capsule);
    });
}

PyGetSetDef table_getset[] = {
    {"name", table_name, nullptr, docs::table_name, nullptr},
    {"columns", table_columns, nullptr, docs::table_columns, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef table_methods[] = {
    {"to_polars", table_to_polars, METH_NOARGS, docs::table_to_polars},
    {"to_pandas", table_to_pandas, METH_NOARGS, docs::table_to_pandas},
    {"render", table_render, METH_NOARGS, docs::table_render},
    {"__arrow_c_stream__", fastcall(&table_arrow_stream), METH_FASTCALL | METH_KEYWORDS,
     docs::table_arrow_c_stream},
    {"__arrow_c_array__", fastcall(&table_arrow_array), METH_FASTCALL | METH_KEYWORDS,
     docs::table_arrow_c_array},
    {"__arrow_c_schema__", table_arrow_schema, METH_NOARGS, docs::table_arrow_c_schema},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::table)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<TableRef>)},
    {Py_tp_repr, reinterpret_cast<void*>(&table_repr)},
    {Py_tp_getset, table_getset},
    {Py_tp_methods, table_methods},
    {Py_mp_length, reinterpret_cast<void*>(&table_len)},
    {0, nullptr},
};

PyType_Spec table_spec = {
    "remitrax._core.Table", sizeof(Object<TableRef>), 0, view_flags, table_slots,
};

}  // namespace

PyTypeObject* tables_type() {
    static ProcessObject cell;
    return class_type(cell, tables_spec);
}

PyTypeObject* table_type() {
    static ProcessObject cell;
    return class_type(cell, table_spec);
}

const std::shared_ptr<const Tables>& tables_of(PyObject* tables) {
    return value_of<SharedTables>(tables);
}

Ref make_tables(Tables tables) {
    return make_object(tables_type(),
                       SharedTables(std::make_shared<const Tables>(std::move(tables))));
}

Ref make_tables(std::shared_ptr<const Tables> tables) {
    return make_object(tables_type(), SharedTables(std::move(tables)));
}

}  // namespace remitrax::binding
