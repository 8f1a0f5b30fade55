// The docstrings of the module's classes, members and functions, in the form the interpreter
// reads them: a text signature ("name(...)\n--\n\n") before the text where a callable has one.
// The classes use them at run time and the stub records hand the same texts to the stub.
#pragma once

namespace remitrax::binding::docs {

// ---- Module

inline constexpr char module[] = "The `remitrax._core` extension module.";

inline constexpr char parse_error[] =
    "Input that cannot be indexed: its delimiters cannot be read or it exceeds the size limit; "
    "the message says what was found and where.";
inline constexpr char spec_error[] =
    "A spec that cannot be loaded or patched; the message names the rule, the loop and key, and "
    "the datum.";

// ---- Functions

inline constexpr char parse[] =
    "parse(data, spec=None, delimiters=None)\n--\n\n"
    "Parses a whole file: indexes every segment, runs the loop engine, the\n"
    "envelope checker and the projector, and returns the document, the\n"
    "tables and every diagnostic. Without `spec`, the built-in spec of the\n"
    "version the file declares is used, else the default one.";

inline constexpr char stream[] =
    "stream(data, spec=None, by=\"transaction\", delimiters=None)\n--\n\n"
    "Walks a file and yields a batch each time an instance of loop `by`\n"
    "closes, and one more at the end when anything is left. Without `spec`,\n"
    "the built-in spec of the version the file declares is used, else the\n"
    "default one.";

inline constexpr char external_diagnostic[] =
    "_external_diagnostic(origin, message, level, code=None, segment=None, element=None, "
    "component=None, datum=b'')\n--\n\n"
    "Builds a `Diagnostic` for a finding reported by an external validator.\n\n"
    "Internal: adapters to external validators call it; it is not part of the\n"
    "public API. The finding has no loop path; `level` must be 1, 2 or 3.";
// The shorter text the stub gives it.
inline constexpr char external_diagnostic_stub[] =
    "Builds a `Diagnostic` for a finding reported by an external validator; internal.";

// ---- Result

inline constexpr char result[] = "What one parse produced.";
inline constexpr char result_document[] = "The file, held losslessly.";
inline constexpr char result_tables[] = "The projected tables, by name.";
inline constexpr char result_diagnostics[] = "Every diagnostic, in stream order.";
inline constexpr char result_payer[] =
    "The payer organization from the `payer_*` columns of `payments`, or\n`None` when the file "
    "has none.";
inline constexpr char result_payee[] =
    "The payee organization from the `payee_*` columns of `payments`, or\n`None` when the file "
    "has none.";
inline constexpr char result_count_claims[] = "count_claims($self)\n--\n\nThe rows of `claims`.";
inline constexpr char result_count_patients[] =
    "count_patients($self)\n--\n\n"
    "The distinct non-null values of `claims.patient_id`. Ids are text:\n"
    "`0123` and `123` are two patients, where tabulon reads both as\n"
    "the number 123 and counts one.";
inline constexpr char result_sum_payments[] =
    "sum_payments($self)\n--\n\n"
    "The sum of `payments.total_payment_amount`, as a `Decimal` at the\ncolumn's scale.";

// ---- Stream and Batch

inline constexpr char stream_class[] =
    "Iterates the batches of a file. Each step runs with the GIL released.\n\n"
    "A stream must be advanced from one thread at a time: a `next()` that finds\n"
    "another thread inside a step raises a `RuntimeError` naming the stream;\n"
    "unlike a generator, it does not raise `ValueError`.";
inline constexpr char batch[] =
    "The tables and diagnostics of one closed loop instance (or of the end\nof the stream).";
inline constexpr char batch_tables[] = "The rows appended since the previous batch, by table.";
inline constexpr char batch_diagnostics[] =
    "The diagnostics emitted since the previous batch, in stream order.";

// ---- Document, Segment, Delimiters

inline constexpr char document[] = "The file, indexed into segments and held byte for byte.";
inline constexpr char document_write[] = "write($self)\n--\n\nThe file, byte for byte.";
inline constexpr char document_delimiters[] = "The delimiters the file was indexed with.";

inline constexpr char segment[] = "One segment of a document, read from the document on access.";
inline constexpr char segment_index[] = "The 0-based position of the segment in the document.";
inline constexpr char segment_id[] = "The segment identifier; empty for an empty frame.";
inline constexpr char segment_elements[] =
    "The elements in X12 order (`elements[0]` is `XX01`): `bytes` for a\n"
    "simple element, a list of `bytes` for a composite one.";
inline constexpr char segment_raw[] =
    "The exact bytes of the segment: leading trivia, body and terminator.";
inline constexpr char segment_span[] =
    "The segment's byte range in the input, `(start, end)` with `end`\n"
    "exclusive: leading trivia, body and terminator, as `raw` holds them.";

inline constexpr char delimiters[] =
    "Delimiters(element=b'*', component=b':', segment=b'~', repetition=None, release=None)\n--\n\n"
    "The five delimiters of an interchange.";
inline constexpr char delimiters_element[] = "The element separator, one byte.";
inline constexpr char delimiters_component[] = "The component separator, one byte.";
inline constexpr char delimiters_segment[] = "The segment terminator, one byte.";
inline constexpr char delimiters_repetition[] =
    "The repetition separator, or `None` when the file has none.";
inline constexpr char delimiters_release[] =
    "The release character, or `None` when it is not in use.";

// ---- Diagnostic

inline constexpr char diagnostic[] = "One finding about the data of a file. A value, never raised.";
inline constexpr char diagnostic_level[] = "The SNIP level of the rule: 1, 2 or 3.";
inline constexpr char diagnostic_origin[] =
    "Who reported the finding: `\"remitrax\"` for the parser's own rules, the\n"
    "validator's name for an external finding.";
inline constexpr char diagnostic_code[] =
    "The external validator's own code for the finding; `None` for the\n"
    "parser's own rules and for external findings without one.";
inline constexpr char diagnostic_kind[] =
    "The name of the rule that failed, e.g. `RequiredElementMissing`.";
inline constexpr char diagnostic_rule[] = "The rule that failed, as a sentence with its values.";
inline constexpr char diagnostic_segment[] =
    "The index of the segment at fault; `None` at the end of the stream.";
inline constexpr char diagnostic_element[] =
    "The 1-based element position, when the finding has one.";
inline constexpr char diagnostic_component[] =
    "The 1-based component position, when the finding has one.";
inline constexpr char diagnostic_path[] =
    "The open loops, outermost first, joined by `/`; empty at the root.";
inline constexpr char diagnostic_datum[] = "The offending value as it appears in the file.";

// ---- Spec

inline constexpr char spec_builtin[] =
    "builtin(version=\"5010\")\n--\n\n"
    "The built-in 835 spec of `version`, `\"5010\"` (the default) or\n"
    "`\"4010\"`; raises `ValueError` for any other version.";
inline constexpr char spec_from_json[] =
    "from_json(json)\n--\n\n"
    "The spec described by `json`; raises `SpecError` with the core message\n"
    "when it is not valid.";
inline constexpr char spec_patch[] =
    "patch($self, patch)\n--\n\n"
    "A new spec with `patch` (a dict or JSON text) merged over this one;\n"
    "raises `SpecError` when the result is not valid.";
inline constexpr char spec_to_json[] = "to_json($self)\n--\n\nThe spec as JSON text.";
inline constexpr char spec_loops[] = "loops($self)\n--\n\nThe loop names, in spec order.";

// ---- Tables and Table

inline constexpr char tables[] =
    "The tables of one parse or one batch, by name. Shared, never copied.";
inline constexpr char tables_keys[] = "keys($self)\n--\n\nThe table names, in spec order.";
inline constexpr char tables_render[] =
    "render($self)\n--\n\nEvery table as text: title, header and one line per row.";
inline constexpr char tables_to_pandas[] =
    "to_pandas($self)\n--\n\nEvery table as a pandas `DataFrame`, by name, in table order.";
inline constexpr char tables_to_polars[] =
    "to_polars($self)\n--\n\nEvery table as a polars `DataFrame`, by name, in table order.";

inline constexpr char table[] = "One projected table. Shares the tables it belongs to.";
inline constexpr char table_name[] = "The table name.";
inline constexpr char table_columns[] = "The column names, in order.";
inline constexpr char table_render[] =
    "render($self)\n--\n\nThe table as text: title, header and one line per row.";
inline constexpr char table_to_pandas[] =
    "to_pandas($self)\n--\n\nThe table as a pandas `DataFrame`, through `pyarrow`.";
inline constexpr char table_to_polars[] =
    "to_polars($self)\n--\n\nThe table as a polars `DataFrame`, through the Arrow capsule.";
inline constexpr char table_arrow_c_stream[] =
    "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"
    "Exports the table as an Arrow stream of one record batch, sharing\n"
    "the column buffers. `requested_schema` is ignored, as the protocol\n"
    "allows: the table keeps its own types.";
inline constexpr char table_arrow_c_array[] =
    "__arrow_c_array__($self, requested_schema=None)\n--\n\n"
    "Exports the table as one Arrow struct array and its schema, sharing\n"
    "the column buffers. `requested_schema` is ignored, as the protocol\n"
    "allows.";
inline constexpr char table_arrow_c_schema[] =
    "__arrow_c_schema__($self)\n--\n\nExports the table's schema.";

}  // namespace remitrax::binding::docs
