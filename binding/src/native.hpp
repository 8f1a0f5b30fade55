// Small RAII helpers over the limited API: one owner for object references, guards for the
// GIL, and the catch-all that every C entry point runs its body through.
#pragma once

#include <Python.h>

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
            Py_XDECREF(p_);
            p_ = std::exchange(other.p_, nullptr);
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
    explicit operator bool() const { return p_ != nullptr; }

  private:
    PyObject* p_ = nullptr;
};

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

}  // namespace remitrax::binding
