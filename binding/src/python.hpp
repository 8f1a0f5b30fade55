// Small RAII helpers over the limited API: one owner for object references, guards for the
// GIL, and a cell that creates a process-wide object once.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace remitrax::binding {

// Owns one strong reference (a "new reference" in CPython's words). Move-only; release()
// hands the reference on to a caller that steals it.
class Ref {
  public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            // The old object may run arbitrary code when it goes; this owner is already
            // consistent by then.
            PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    // Takes a new strong reference to a borrowed object.
    static Ref borrow(PyObject* borrowed) {
        Py_XINCREF(borrowed);
        return Ref(borrowed);
    }

    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    // Drops the reference; the owner is empty before the object can run any code.
    void reset() {
        PyObject* old = std::exchange(p_, nullptr);
        Py_XDECREF(old);
    }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    PyObject* p_ = nullptr;
};

// A new reference to what an object's field holds, or to None for an empty field: the
// fields of the module's objects are empty only after the collector cleared a cycle.
inline PyObject* field_or_none(const Ref& field) {
    return Ref::borrow(field ? field.get() : Py_None).release();
}

// Releases the GIL for its lifetime and takes it back on the way out, also when an
// exception passes through: Python errors may only be set after that.
class GilRelease {
  public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;
    ~GilRelease() { PyEval_RestoreThread(state_); }

  private:
    PyThreadState* state_;
};

// Holds the GIL for its lifetime from a thread that may not hold it.
class GilEnsure {
  public:
    GilEnsure() : state_(PyGILState_Ensure()) {}
    GilEnsure(const GilEnsure&) = delete;
    GilEnsure& operator=(const GilEnsure&) = delete;
    ~GilEnsure() { PyGILState_Release(state_); }

  private:
    PyGILState_STATE state_;
};

// A Python object made once per process and kept until the process ends (exception and
// class types). The wait for the lock happens with the GIL released, so a thread inside the
// maker that needs the GIL can always finish; the maker runs with the GIL taken for itself.
// A maker that throws leaves the cell empty, and the next use tries again.
class ProcessObject {
  public:
    // Call with the GIL held. `make` returns a new reference or throws.
    template <class Make>
    PyObject* get(Make&& make) {
        if (PyObject* ready = cell_.load(std::memory_order_acquire)) {
            return ready;
        }
        {
            GilRelease released;
            const std::lock_guard lock(mutex_);
            if (cell_.load(std::memory_order_acquire) == nullptr) {
                GilEnsure gil;
                cell_.store(make(), std::memory_order_release);
            }
        }
        return cell_.load(std::memory_order_acquire);
    }

  private:
    std::mutex mutex_;
    std::atomic<PyObject*> cell_{nullptr};
};

}  // namespace remitrax::binding
