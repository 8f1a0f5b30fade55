# The type stub of remitrax._core, written by remitrax_stubgen from the module's own
# description of its classes and functions; regenerate it rather than edit it.

import builtins
import collections.abc
import decimal
import typing

import pandas
import polars
import typing_extensions

__all__ = [
    "ParseError",
    "SpecError",
    "Diagnostic",
    "Delimiters",
    "Document",
    "Segment",
    "Result",
    "Spec",
    "Batch",
    "Stream",
    "Table",
    "Tables",
    "_external_diagnostic",
    "parse",
    "stream",
    "TABULON_PATCH",
]


class ParseError(builtins.ValueError):
    """Input that cannot be indexed: its delimiters cannot be read or it exceeds the size limit; the message says what was found and where."""


class SpecError(builtins.ValueError):
    """A spec that cannot be loaded or patched; the message names the rule, the loop and key, and the datum."""


@typing.final
class Diagnostic:
    """One finding about the data of a file. A value, never raised."""

    @property
    def level(self) -> builtins.int:
        """The SNIP level of the rule: 1, 2 or 3."""

    @property
    def origin(self) -> builtins.str:
        """Who reported the finding: `"remitrax"` for the parser's own rules, the
        validator's name for an external finding."""

    @property
    def code(self) -> builtins.str | None:
        """The external validator's own code for the finding; `None` for the
        parser's own rules and for external findings without one."""

    @property
    def kind(self) -> builtins.str:
        """The name of the rule that failed, e.g. `RequiredElementMissing`."""

    @property
    def rule(self) -> builtins.str:
        """The rule that failed, as a sentence with its values."""

    @property
    def segment(self) -> builtins.int | None:
        """The index of the segment at fault; `None` at the end of the stream."""

    @property
    def element(self) -> builtins.int | None:
        """The 1-based element position, when the finding has one."""

    @property
    def component(self) -> builtins.int | None:
        """The 1-based component position, when the finding has one."""

    @property
    def path(self) -> builtins.str:
        """The open loops, outermost first, joined by `/`; empty at the root."""

    @property
    def datum(self) -> builtins.bytes:
        """The offending value as it appears in the file."""

    def __str__(self) -> builtins.str: ...

    def __repr__(self) -> builtins.str: ...


@typing.final
class Delimiters:
    """The five delimiters of an interchange."""

    __hash__: typing.ClassVar[None]  # type: ignore[assignment]

    def __new__(cls, element: builtins.bytes = b"*", component: builtins.bytes = b":", segment: builtins.bytes = b"~", repetition: builtins.bytes | None = None, release: builtins.bytes | None = None) -> Delimiters: ...

    @property
    def element(self) -> builtins.bytes:
        """The element separator, one byte."""

    @property
    def component(self) -> builtins.bytes:
        """The component separator, one byte."""

    @property
    def segment(self) -> builtins.bytes:
        """The segment terminator, one byte."""

    @property
    def repetition(self) -> builtins.bytes | None:
        """The repetition separator, or `None` when the file has none."""

    @property
    def release(self) -> builtins.bytes | None:
        """The release character, or `None` when it is not in use."""

    def __repr__(self) -> builtins.str: ...


@typing.final
class Document:
    """The file, indexed into segments and held byte for byte."""

    @property
    def delimiters(self) -> Delimiters:
        """The delimiters the file was indexed with."""

    def __len__(self) -> builtins.int: ...

    def write(self) -> builtins.bytes:
        """The file, byte for byte."""

    def __repr__(self) -> builtins.str: ...

    def __getitem__(self, index: builtins.int, /) -> Segment: ...


@typing.final
class Segment:
    """One segment of a document, read from the document on access."""

    @property
    def index(self) -> builtins.int:
        """The 0-based position of the segment in the document."""

    @property
    def id(self) -> builtins.bytes:
        """The segment identifier; empty for an empty frame."""

    @property
    def elements(self) -> builtins.list[builtins.bytes | builtins.list[builtins.bytes]]:
        """The elements in X12 order (`elements[0]` is `XX01`): `bytes` for a
        simple element, a list of `bytes` for a composite one."""

    @property
    def raw(self) -> builtins.bytes:
        """The exact bytes of the segment: leading trivia, body and terminator."""

    @property
    def span(self) -> builtins.tuple[builtins.int, builtins.int]:
        """The segment's byte range in the input, `(start, end)` with `end`
        exclusive: leading trivia, body and terminator, as `raw` holds them."""

    def __repr__(self) -> builtins.str: ...


@typing.final
class Result:
    """What one parse produced."""

    @property
    def document(self) -> Document:
        """The file, held losslessly."""

    @property
    def tables(self) -> Tables:
        """The projected tables, by name."""

    @property
    def diagnostics(self) -> builtins.list[Diagnostic]:
        """Every diagnostic, in stream order."""

    @property
    def payer(self) -> builtins.dict[builtins.str, builtins.str | None] | None:
        """The payer organization from the `payer_*` columns of `payments`, or
        `None` when the file has none."""

    @property
    def payee(self) -> builtins.dict[builtins.str, builtins.str | None] | None:
        """The payee organization from the `payee_*` columns of `payments`, or
        `None` when the file has none."""

    def count_claims(self) -> builtins.int:
        """The rows of `claims`."""

    def count_patients(self) -> builtins.int:
        """The distinct non-null values of `claims.patient_id`. Ids are text:
        `0123` and `123` are two patients, where tabulon reads both as
        the number 123 and counts one."""

    def sum_payments(self) -> decimal.Decimal:
        """The sum of `payments.total_payment_amount`, as a `Decimal` at the
        column's scale."""

    def __repr__(self) -> builtins.str: ...


@typing.final
class Spec:
    @staticmethod
    def builtin(version: builtins.str = "5010") -> Spec:
        """The built-in 835 spec of `version`, `"5010"` (the default) or
        `"4010"`; raises `ValueError` for any other version."""

    @staticmethod
    def from_json(json: builtins.str) -> Spec:
        """The spec described by `json`; raises `SpecError` with the core message
        when it is not valid."""

    def patch(self, patch: builtins.str | builtins.dict[builtins.str, typing.Any]) -> Spec:
        """A new spec with `patch` (a dict or JSON text) merged over this one;
        raises `SpecError` when the result is not valid."""

    def to_json(self) -> builtins.str:
        """The spec as JSON text."""

    def loops(self) -> builtins.list[builtins.str]:
        """The loop names, in spec order."""

    def __repr__(self) -> builtins.str: ...


@typing.final
class Batch:
    """The tables and diagnostics of one closed loop instance (or of the end
    of the stream)."""

    @property
    def tables(self) -> Tables:
        """The rows appended since the previous batch, by table."""

    @property
    def diagnostics(self) -> builtins.list[Diagnostic]:
        """The diagnostics emitted since the previous batch, in stream order."""

    def __repr__(self) -> builtins.str: ...


@typing.final
class Stream:
    """Iterates the batches of a file. Each step runs with the GIL released.

    A stream must be advanced from one thread at a time: a `next()` that finds
    another thread inside a step raises a `RuntimeError` naming the stream;
    unlike a generator, it does not raise `ValueError`."""

    def __iter__(self) -> Stream: ...

    def __next__(self) -> Batch: ...


@typing.final
class Table:
    """One projected table. Shares the tables it belongs to."""

    @property
    def name(self) -> builtins.str:
        """The table name."""

    @property
    def columns(self) -> builtins.list[builtins.str]:
        """The column names, in order."""

    def __len__(self) -> builtins.int: ...

    def to_polars(self) -> polars.DataFrame:
        """The table as a polars `DataFrame`, through the Arrow capsule."""

    def to_pandas(self) -> pandas.DataFrame:
        """The table as a pandas `DataFrame`, through `pyarrow`."""

    def render(self) -> builtins.str:
        """The table as text: title, header and one line per row."""

    def __arrow_c_stream__(self, requested_schema: builtins.object | None = None) -> typing_extensions.CapsuleType:
        """Exports the table as an Arrow stream of one record batch, sharing
        the column buffers. `requested_schema` is ignored, as the protocol
        allows: the table keeps its own types."""

    def __arrow_c_array__(self, requested_schema: builtins.object | None = None) -> builtins.tuple[typing_extensions.CapsuleType, typing_extensions.CapsuleType]:
        """Exports the table as one Arrow struct array and its schema, sharing
        the column buffers. `requested_schema` is ignored, as the protocol
        allows."""

    def __arrow_c_schema__(self) -> typing_extensions.CapsuleType:
        """Exports the table's schema."""

    def __repr__(self) -> builtins.str: ...


@typing.final
class Tables:
    """The tables of one parse or one batch, by name. Shared, never copied."""

    def keys(self) -> builtins.list[builtins.str]:
        """The table names, in spec order."""

    def __len__(self) -> builtins.int: ...

    def __iter__(self) -> collections.abc.Iterator[builtins.str]: ...

    def render(self) -> builtins.str:
        """Every table as text: title, header and one line per row."""

    def to_polars(self) -> builtins.dict[builtins.str, polars.DataFrame]:
        """Every table as a polars `DataFrame`, by name, in table order."""

    def to_pandas(self) -> builtins.dict[builtins.str, pandas.DataFrame]:
        """Every table as a pandas `DataFrame`, by name, in table order."""

    def __repr__(self) -> builtins.str: ...

    def __contains__(self, name: builtins.object, /) -> builtins.bool: ...

    def __getitem__(self, name: builtins.str, /) -> Table: ...


def _external_diagnostic(origin: builtins.str, message: builtins.str, level: builtins.int, code: builtins.str | None = None, segment: builtins.int | None = None, element: builtins.int | None = None, component: builtins.int | None = None, datum: builtins.bytes = b"") -> Diagnostic:
    """Builds a `Diagnostic` for a finding reported by an external validator; internal."""


def parse(data: typing_extensions.Buffer, spec: Spec | None = None, delimiters: Delimiters | None = None) -> Result:
    """Parses a whole file: indexes every segment, runs the loop engine, the
    envelope checker and the projector, and returns the document, the
    tables and every diagnostic. Without `spec`, the built-in spec of the
    version the file declares is used, else the default one."""


def stream(data: typing_extensions.Buffer, spec: Spec | None = None, by: builtins.str = "transaction", delimiters: Delimiters | None = None) -> Stream:
    """Walks a file and yields a batch each time an instance of loop `by`
    closes, and one more at the end when anything is left. Without `spec`,
    the built-in spec of the version the file declares is used, else the
    default one."""


TABULON_PATCH: builtins.str
