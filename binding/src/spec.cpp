// The class Spec and the process-wide cells of the built-in specs.
#include "spec.hpp"

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "args.hpp"
#include "base/text.hpp"
#include "docs.hpp"
#include "errors.hpp"
#include "objects.hpp"

namespace remitrax::binding {

namespace {

using SharedSpec = std::shared_ptr<const Spec>;

// A built-in spec, compiled once per process. Readers after the first find it without a
// lock; a compile that throws leaves the cell empty for the next caller.
class BuiltinCell {
  public:
    explicit BuiltinCell(SharedSpec (*make)()) : make_(make) {}

    bool ready() const { return ready_.load(std::memory_order_acquire); }

    SharedSpec get() {
        if (ready()) {
            return value_;
        }
        const std::lock_guard lock(mutex_);
        if (!ready_.load(std::memory_order_relaxed)) {
            value_ = make_();
            ready_.store(true, std::memory_order_release);
        }
        return value_;
    }

    // A child process has only the thread that forked: a lock another thread held at the
    // fork would stay held there for good, and the child's first parse would wait forever.
    // So a fork waits for a compile under way (which needs no GIL, and so finishes) by taking
    // the lock of a cell still empty; both processes let go of it after. A filled cell is
    // never locked again, whoever held its lock at the fork.
    void before_fork() {
        if (!ready()) {
            mutex_.lock();
            locked_for_fork_ = true;
        }
    }

    void after_fork() {
        if (locked_for_fork_) {
            locked_for_fork_ = false;
            mutex_.unlock();
        }
    }

  private:
    SharedSpec (*make_)();
    std::mutex mutex_;
    std::atomic<bool> ready_{false};
    SharedSpec value_;              // written once, before ready_ is set
    bool locked_for_fork_ = false;  // only the forking thread touches it
};

struct BuiltinCells {
    BuiltinCell v5010{&Spec::builtin_835};
    BuiltinCell v4010{&Spec::builtin_835_4010};
};

// A value made when the module is loaded and never destroyed, so that a thread still
// parsing while the process exits, or a fork then, finds it whole.
template <class T>
union Lasting {
    Lasting() : value() {}
    ~Lasting() {}
    T value;
};

// The cells exist, and the fork handlers are registered, from the moment the module is
// loaded, in the importing thread with the GIL held, so before any compile and while no
// fork runs: a registration made while another thread forks would not cover that fork.
Lasting<BuiltinCells> builtin_cells;

void cells_before_fork() {
    builtin_cells.value.v5010.before_fork();
    builtin_cells.value.v4010.before_fork();
}

void cells_after_fork() {
    builtin_cells.value.v4010.after_fork();
    builtin_cells.value.v5010.after_fork();
}

const int fork_handlers = pthread_atfork(&cells_before_fork, &cells_after_fork, &cells_after_fork);

// A cell that a fork cannot leave locked: without the handlers (registering fails only when
// memory is short) no compile starts.
BuiltinCell& fork_safe(BuiltinCell& cell) {
    if (fork_handlers != 0) {
        throw std::bad_alloc();
    }
    return cell;
}

BuiltinCell& cell_5010() {
    return fork_safe(builtin_cells.value.v5010);
}

BuiltinCell& cell_4010() {
    return fork_safe(builtin_cells.value.v4010);
}

// A built-in spec for a caller that holds the GIL: the first compile runs without it.
SharedSpec builtin_with_gil(BuiltinCell& cell) {
    if (cell.ready()) {
        return cell.get();
    }
    const GilRelease released;
    return cell.get();
}

Ref new_spec(SharedSpec spec) {
    return make_object(spec_type(), std::move(spec));
}

PyObject* spec_builtin(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return entry([&] {
        static constexpr std::array<const char*, 1> names = {"version"};
        const auto [given] = bind_args("builtin", names, 0, args, nargs, kwnames);
        const std::string_view version =
            given != nullptr ? str_argument("builtin", "version", given) : "5010";
        if (version == "5010") {
            return new_spec(builtin_with_gil(cell_5010()));
        }
        if (version == "4010") {
            return new_spec(builtin_with_gil(cell_4010()));
        }
        raise(PyExc_ValueError,
              "Spec.builtin(version=" + quoted(version) +
                  "): no built-in spec for that version; the built-ins are \"5010\" and \"4010\"");
    });
}

PyObject* spec_from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return entry([&] {
        static constexpr std::array<const char*, 1> names = {"json"};
        const auto [json] = bind_args("from_json", names, 1, args, nargs, kwnames);
        auto spec = Spec::from_json(str_argument("from_json", "json", json));
        if (!spec) {
            raise_spec_error(spec.error());
        }
        return new_spec(std::move(*spec));
    });
}

// The text of a patch given as a dict: json.dumps with its defaults. A Ctrl-C, an exit or a
// lack of memory while it runs is raised as it is.
std::string dumped(PyObject* patch) {
    Ref json = checked(PyImport_ImportModule("json"));
    Ref text(PyObject_CallMethod(json.get(), "dumps", "(O)", patch));
    if (!text && !replaceable_error()) {
        throw PythonError();
    }
    if (!text || !PyUnicode_Check(text.get())) {
        std::string reason;
        if (!text) {
            Ref raised = take_exception();
            Ref shown = checked(PyObject_Str(raised ? raised.get() : Py_None));
            reason = utf8(shown.get());
        } else {
            Ref shown = checked(PyObject_Str(text.get()));
            reason = "json.dumps returned " + type_name(text.get()) + " " +
                     std::string(utf8(shown.get()));
        }
        raise(PyExc_TypeError, "Spec.patch: the dict cannot be written as JSON: " + reason);
    }
    return std::string(utf8(text.get()));
}

PyObject* spec_patch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return entry([&] {
        static constexpr std::array<const char*, 1> names = {"patch"};
        const auto [patch] = bind_args("patch", names, 1, args, nargs, kwnames);
        std::string text;
        if (PyUnicode_Check(patch)) {
            text = utf8(patch);
        } else if (PyDict_Check(patch)) {
            text = dumped(patch);
        } else {
            raise(PyExc_TypeError,
                  "Spec.patch takes a dict or a JSON string, not " + type_name(patch));
        }
        auto merged = spec_of(self)->merge_patch(text);
        if (!merged) {
            raise_spec_error(merged.error());
        }
        return new_spec(std::move(*merged));
    });
}

PyObject* spec_to_json(PyObject* self, PyObject*) {
    return entry([&] { return new_str(spec_of(self)->to_json()); });
}

PyObject* spec_loops(PyObject* self, PyObject*) {
    return entry([&] {
        const auto& loops = spec_of(self)->loops;
        Ref list = checked(PyList_New(static_cast<Py_ssize_t>(loops.size())));
        for (std::size_t i = 0; i < loops.size(); ++i) {
            check(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                                 new_str(loops[i].name).release()));
        }
        return list;
    });
}

PyObject* spec_repr(PyObject* self) {
    return entry([&] {
        const Spec& spec = *spec_of(self);
        return new_str("Spec(name='" + spec.name + "', loops=" + std::to_string(spec.loops.size()) +
                       ", tables=" + std::to_string(spec.tables.size()) + ")");
    });
}

PyMethodDef spec_methods[] = {
    {"builtin", fastcall(&spec_builtin), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     docs::spec_builtin},
    {"from_json", fastcall(&spec_from_json), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     docs::spec_from_json},
    {"patch", fastcall(&spec_patch), METH_FASTCALL | METH_KEYWORDS, docs::spec_patch},
    {"to_json", spec_to_json, METH_NOARGS, docs::spec_to_json},
    {"loops", spec_loops, METH_NOARGS, docs::spec_loops},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot spec_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<SharedSpec>)},
    {Py_tp_repr, reinterpret_cast<void*>(&spec_repr)},
    {Py_tp_methods, spec_methods},
    {0, nullptr},
};

PyType_Spec spec_spec = {
    "remitrax._core.Spec", sizeof(Object<SharedSpec>), 0, view_flags, spec_slots,
};

}  // namespace

PyTypeObject* spec_type() {
    static ProcessObject cell;
    return class_type(cell, spec_spec);
}

const std::shared_ptr<const Spec>& spec_of(PyObject* spec) {
    return value_of<SharedSpec>(spec);
}

std::shared_ptr<const Spec> given_spec(PyObject* spec) {
    if (spec == nullptr || spec == Py_None) {
        return nullptr;
    }
    if (!is_instance(spec, spec_type())) {
        not_an_instance(spec, "Spec", "spec");
    }
    return spec_of(spec);
}

namespace spec {

std::shared_ptr<const Spec> builtin() {
    return cell_5010().get();
}

std::shared_ptr<const Spec> builtin_4010() {
    return cell_4010().get();
}

std::shared_ptr<const Spec> builtin_with_gil() {
    return remitrax::binding::builtin_with_gil(cell_5010());
}

}  // namespace spec

}  // namespace remitrax::binding
