// The classes Document, Segment and Delimiters, and the step of a parse that reads the input
// copy into a Document.
#pragma once

#include <Python.h>

#include <expected>
#include <optional>
#include <string>

#include "base/buffer.hpp"
#include "python.hpp"
#include "x12/delimiters.hpp"
#include "x12/document.hpp"

namespace remitrax::binding {

PyTypeObject* document_type();
PyTypeObject* segment_type();
PyTypeObject* delimiters_type();

// The input copy as a Document: indexed with the caller's delimiters, or with those of its ISA
// header when none are given; the error is the message of ParseError. Touches no Python
// object, so it runs with the GIL released.
[[nodiscard]] std::expected<Document, std::string> read_document(
    Buffer input, const std::optional<Delimiters>& delimiters);

// A new Document object owning `document`.
Ref make_document(Document document);

// The value of a Delimiters object.
const Delimiters& delimiters_of(PyObject* delimiters);

// A `delimiters=` argument: none when absent (null) or None, else a copy of a Delimiters
// object's value; anything else raises the class-typed TypeError naming `delimiters`.
std::optional<Delimiters> given_delimiters(PyObject* delimiters);

}  // namespace remitrax::binding
