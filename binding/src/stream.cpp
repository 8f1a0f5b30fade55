// The segment-at-a-time road: stream() and the class Stream, whose steps run with the GIL
// released behind a lock that is only ever tried, and the class Batch.
#include "stream.hpp"

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "args.hpp"
#include "base/buffer.hpp"
#include "base/text.hpp"
#include "diagnostic.hpp"
#include "docs.hpp"
#include "document.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "parse.hpp"
#include "process/processor.hpp"
#include "spec.hpp"
#include "tables.hpp"
#include "x12/tokenizer.hpp"

namespace remitrax::binding {

namespace {

// ---- The walk

// The owning half of a walk, set once: the input copy, the spec and the delimiters.
struct Source {
    Buffer input;
    std::shared_ptr<const Spec> spec;
    Delimiters delimiters;
};

// The half that refers into its Source for its whole life. The processor goes before the
// tokenizer (members are destroyed in reverse order).
struct Pass {
    // The first frame keeps a byte order mark and leading whitespace as its trivia.
    Tokenizer tokenizer;
    Processor processor;
    // Every segment is read into this one, whose storage is reused from one to the next.
    Segment segment;

    explicit Pass(const Source& source)
        : tokenizer(source.input.view(), source.delimiters),
          processor(source.spec, source.delimiters) {}
};

// One heap block that never moves, so that the views of the Pass into the Source stay valid.
// The Pass goes first, then the Source.
struct Walk {
    Source source;
    Pass pass;

    explicit Walk(Source given) : source(std::move(given)), pass(source) {}
};

// The tables of earlier batches that nobody reads any more, kept so that the next take
// fills their buffers instead of allocating new ones: a batch of one small loop instance
// would otherwise cost an allocation, and a free, for every buffer of every column. The last
// reference to a batch's tables may go on any thread (an Arrow consumer may hold it), hence
// the lock; at most one set is kept.
class Spares {
  public:
    std::unique_ptr<Tables> take() {
        const std::lock_guard lock(mutex_);
        return std::move(spare_);
    }

    void give(std::unique_ptr<Tables> tables) {
        {
            const std::lock_guard lock(mutex_);
            if (!spare_) {
                spare_ = std::move(tables);
                return;
            }
        }
        // One set is kept already; this one is freed outside the lock.
    }

  private:
    std::mutex mutex_;
    std::unique_ptr<Tables> spare_;
};

// Releases a batch's tables to the stream's spares while the stream lives, else frees them.
struct GiveBack {
    std::weak_ptr<Spares> spares;

    void operator()(const Tables* shared) const noexcept {
        // Made by `share` below as a non-const Tables, which this deleter owns now.
        std::unique_ptr<Tables> owned(const_cast<Tables*>(shared));
        try {
            if (const std::shared_ptr<Spares> alive = spares.lock()) {
                alive->give(std::move(owned));
            }
        } catch (...) {
            // Not kept: the tables are simply freed.
        }
    }
};

std::shared_ptr<const Tables> share(std::unique_ptr<Tables> tables,
                                    const std::shared_ptr<Spares>& spares) {
    return {tables.release(), GiveBack{spares}};
}

// The rows and findings of one stretch of the input.
struct Stretch {
    std::shared_ptr<const Tables> tables;
    std::vector<Diagnostic> diagnostics;
};

bool holds_anything(const Stretch& stretch) {
    if (!stretch.diagnostics.empty()) {
        return true;
    }
    for (const Table& table : *stretch.tables) {
        if (table.rows() != 0) {
            return true;
        }
    }
    return false;
}

struct State {
    std::unique_ptr<Walk> walk;
    LoopId loop = 0;  // whose Close cuts a batch
    bool done = false;
    std::shared_ptr<Spares> spares = std::make_shared<Spares>();

    // The rows gathered since the last take, in the buffers of spare tables when there are
    // any.
    std::shared_ptr<const Tables> take_tables() {
        Processor& processor = walk->pass.processor;
        std::unique_ptr<Tables> tables = spares->take();
        if (tables) {
            *tables = processor.take_tables(std::move(*tables));
        } else {
            tables = std::make_unique<Tables>(processor.take_tables());
        }
        return share(std::move(tables), spares);
    }

    // The next batch: the stretch up to a Close of `loop`, or the last stretch at the end of
    // the input when it holds anything; nothing once the input is done.
    std::optional<Stretch> step() {
        if (done) {
            return std::nullopt;
        }
        Pass& pass = walk->pass;
        std::vector<Diagnostic> diagnostics;
        while (pass.tokenizer.next(pass.segment)) {
            const Output& output = pass.processor.feed(pass.segment);
            diagnostics.insert(diagnostics.end(), output.diagnostics.begin(),
                               output.diagnostics.end());
            // After the step's findings, so that a batch holds all that its closing segment
            // produced.
            for (const Event& event : output.events) {
                if (event.kind() == EventKind::Close && event.loop() == loop) {
                    return Stretch{take_tables(), std::move(diagnostics)};
                }
            }
        }
        const Output& end = pass.processor.finish();
        diagnostics.insert(diagnostics.end(), end.diagnostics.begin(), end.diagnostics.end());
        Stretch last{take_tables(), std::move(diagnostics)};
        done = true;
        if (!holds_anything(last)) {
            return std::nullopt;
        }
        return last;
    }
};

// The state of a Stream behind a lock that is only ever tried, never waited for, and the
// mark of a step that ended in a fault.
struct Guarded {
    std::mutex mutex;
    bool broken = false;  // read and written with the lock held
    State state;
};

using StreamValue = std::unique_ptr<Guarded>;

// ---- Batch

struct BatchValue {
    Ref tables;
    Ref diagnostics;  // a list the caller may change, hence the GC support
};

int batch_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    const BatchValue& batch = value_of<BatchValue>(self);
    Py_VISIT(batch.tables.get());
    Py_VISIT(batch.diagnostics.get());
    return 0;
}

int batch_clear(PyObject* self) {
    BatchValue& batch = value_of<BatchValue>(self);
    batch.diagnostics.reset();
    batch.tables.reset();
    return 0;
}

PyObject* batch_tables(PyObject* self, void*) {
    return field_or_none(value_of<BatchValue>(self).tables);
}

PyObject* batch_diagnostics(PyObject* self, void*) {
    return field_or_none(value_of<BatchValue>(self).diagnostics);
}

PyObject* batch_repr(PyObject* self) {
    return entry([&] {
        const BatchValue& batch = value_of<BatchValue>(self);
        Ref tables = checked(PyObject_Repr(batch.tables ? batch.tables.get() : Py_None));
        Py_ssize_t count = 0;
        if (batch.diagnostics) {
            count = PyObject_Length(batch.diagnostics.get());
            if (count < 0) {
                throw PythonError();
            }
        }
        std::string text = "Batch(tables=";
        text += utf8(tables.get());
        text += ", diagnostics=" + std::to_string(count) + ")";
        return new_str(text);
    });
}

PyGetSetDef batch_getset[] = {
    {"tables", batch_tables, nullptr, docs::batch_tables, nullptr},
    {"diagnostics", batch_diagnostics, nullptr, docs::batch_diagnostics, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot batch_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::batch)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<BatchValue>)},
    {Py_tp_traverse, reinterpret_cast<void*>(&batch_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&batch_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(&batch_repr)},
    {Py_tp_getset, batch_getset},
    {0, nullptr},
};

PyType_Spec batch_spec = {
    "remitrax._core.Batch",
    sizeof(Object<BatchValue>),
    0,
    view_flags | Py_TPFLAGS_HAVE_GC,
    batch_slots,
};

// ---- Stream

PyObject* stream_next(PyObject* self) {
    return entry([&] {
        Guarded& guarded = *value_of<StreamValue>(self);
        enum class Outcome : std::uint8_t { Busy, Broken, Batch, Done } outcome = Outcome::Done;
        std::optional<Stretch> stretch;
        {
            const GilRelease released;
            const std::unique_lock lock(guarded.mutex, std::try_to_lock);
            if (!lock.owns_lock()) {
                outcome = Outcome::Busy;
            } else if (guarded.broken) {
                outcome = Outcome::Broken;
            } else {
                try {
                    stretch = guarded.state.step();
                } catch (...) {
                    // The walk may be half way through a segment; it is not touched again.
                    guarded.broken = true;
                    throw;
                }
                outcome = stretch ? Outcome::Batch : Outcome::Done;
            }
        }
        switch (outcome) {
            case Outcome::Busy:
                raise(PyExc_RuntimeError,
                      "Stream.__next__: this stream is already being advanced by another thread; "
                      "a stream is advanced from one thread at a time");
            case Outcome::Broken:
                raise(PyExc_RuntimeError,
                      "Stream.__next__: a previous step of this stream panicked, so it cannot be "
                      "advanced");
            case Outcome::Done:
                // No error set: the iteration ends.
                return Ref();
            case Outcome::Batch:
                break;
        }
        Ref diagnostics = to_list(std::move(stretch->diagnostics));
        Ref tables = make_tables(std::move(stretch->tables));
        return make_object(batch_type(), BatchValue{std::move(tables), std::move(diagnostics)});
    });
}

PyType_Slot stream_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::stream_class)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<StreamValue>)},
    {Py_tp_iter, reinterpret_cast<void*>(&PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(&stream_next)},
    {0, nullptr},
};

PyType_Spec stream_spec = {
    "remitrax._core.Stream", sizeof(Object<StreamValue>), 0, view_flags, stream_slots,
};

// ---- stream()

// The loop named exactly `by`, or the ValueError naming every loop of the spec.
LoopId loop_of(const Spec& spec, std::string_view by) {
    if (const auto loop = spec.loop_id(by)) {
        return *loop;
    }
    std::string message = "stream by " + quoted(by) + ": the spec has no such loop; its loops are ";
    for (std::size_t i = 0; i < spec.loops.size(); ++i) {
        if (i != 0) {
            message += ", ";
        }
        message += spec.loops[i].name;
    }
    raise(PyExc_ValueError, message);
}

// `by`: absent for "transaction"; otherwise a str, whose UTF-8 text is taken.
std::string by_argument(PyObject* by) {
    if (by == nullptr) {
        return "transaction";
    }
    if (by == Py_None) {
        try {
            raise(PyExc_TypeError, "'None' is not an instance of 'str'");
        } catch (const PythonError&) {
            add_note("while processing 'by'");
            throw;
        }
    }
    if (!PyUnicode_Check(by)) {
        not_an_instance(by, "str", "by");
    }
    try {
        return std::string(utf8(by));
    } catch (const PythonError&) {
        add_note("while processing 'by'");
        throw;
    }
}

PyObject* stream(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return entry([&] {
        static constexpr std::array<const char*, 4> names = {"data", "spec", "by", "delimiters"};
        const auto [data, spec, by, delimiters] =
            bind_args("stream", names, 1, args, nargs, kwnames);
        std::shared_ptr<const Spec> given = given_spec(spec);
        const std::string loop_name = by_argument(by);
        const std::optional<Delimiters> own_delimiters = given_delimiters(delimiters);
        Buffer input = copy_input("stream", data);

        // `by` is tested before the input is looked at, against the spec given or the default.
        const std::shared_ptr<const Spec> v5010 = spec::builtin_with_gil();
        loop_of(given ? *given : *v5010, loop_name);

        Delimiters read_with;
        if (own_delimiters) {
            read_with = *own_delimiters;
        } else {
            const auto tokenizer = Tokenizer::create(input.view());
            if (!tokenizer) {
                raise_parse_error(tokenizer.error().to_string());
            }
            read_with = tokenizer->delimiters();
        }
        std::shared_ptr<const Spec> chosen =
            given_or_selected(std::move(given), Tokenizer(input.view(), read_with));
        const LoopId loop = loop_of(*chosen, loop_name);

        auto walk = [&] {
            const GilRelease released;
            return std::make_unique<Walk>(Source{std::move(input), std::move(chosen), read_with});
        }();
        auto guarded = std::make_unique<Guarded>();
        guarded->state = State{std::move(walk), loop, false};
        return make_object(stream_type(), StreamValue(std::move(guarded)));
    });
}

}  // namespace

PyTypeObject* batch_type() {
    static ProcessObject cell;
    return class_type(cell, batch_spec);
}

PyTypeObject* stream_type() {
    static ProcessObject cell;
    return class_type(cell, stream_spec);
}

PyMethodDef stream_def = {
    "stream",
    fastcall(&stream),
    METH_FASTCALL | METH_KEYWORDS,
    docs::stream,
};

}  // namespace remitrax::binding
