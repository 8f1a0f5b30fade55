// The class Spec, the process-wide built-in specs, and the choice of the spec a parse or a
// stream uses.
#pragma once

#include <Python.h>

#include <memory>

#include "python.hpp"
#include "spec/spec.hpp"

namespace remitrax::binding {

PyTypeObject* spec_type();

// The compiled spec of a Spec object.
const std::shared_ptr<const Spec>& spec_of(PyObject* spec);

// A `spec=` argument: none when absent (null) or None, else the spec of a Spec object;
// anything else raises the class-typed TypeError naming `spec`.
std::shared_ptr<const Spec> given_spec(PyObject* spec);

namespace spec {

// The built-in 835 spec (5010) and the same with the 4010 patch, each compiled by the first
// call that needs it (other threads wait for it) and shared from then on. A fault while
// compiling propagates and leaves the cell empty, so the next call tries again. They touch no
// Python object and may be called with or without the GIL.
std::shared_ptr<const Spec> builtin();
std::shared_ptr<const Spec> builtin_4010();
// builtin() for a caller that holds the GIL: a first compile runs without it.
std::shared_ptr<const Spec> builtin_with_gil();

}  // namespace spec

// The caller's spec when given; otherwise the built-in spec whose declared version the input
// declares first (5010 before 4010), read from `source`, else the 5010 spec. Touches no
// Python object.
template <SegmentSource Source>
std::shared_ptr<const Spec> given_or_selected(std::shared_ptr<const Spec> given, Source source) {
    if (given) {
        return given;
    }
    std::shared_ptr<const Spec> v5010 = spec::builtin();
    std::shared_ptr<const Spec> v4010 = spec::builtin_4010();
    return Spec::select_builtin(std::move(v5010), std::move(v4010), std::move(source));
}

}  // namespace remitrax::binding
