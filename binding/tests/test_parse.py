"""parse: its argument checks, the input copy, spec selection and Result."""

import array
import builtins
import ctypes
import mmap
import pathlib
import subprocess
import sys
import threading

import pytest

import remitrax
from conftest import ISA, sample_files

BUFFER_REFUSAL = "parse: argument data must be a buffer of unsigned bytes, format 'B', 'b' or 'c'; found "
STR_REFUSAL = (
    "the input must be bytes or another buffer, not str: open the file in binary mode or "
    "encode the text"
)


def accepted_forms(data):
    return [
        data,
        bytearray(data),
        memoryview(data),
        array.array("B", data),
        array.array("b", data),
        memoryview(data).cast("c"),
    ]


def test_every_byte_buffer_form_reads_the_same_bytes(example_bytes):
    for form in accepted_forms(example_bytes):
        assert remitrax.parse(form).document.write() == example_bytes, type(form)


def test_a_strided_or_multidimensional_buffer_is_copied_in_order(example_bytes):
    doubled = bytes(b for byte in example_bytes for b in (byte, 0))
    assert remitrax.parse(memoryview(doubled)[::2]).document.write() == example_bytes
    square = example_bytes[: len(example_bytes) // 4 * 4]
    grid = memoryview(square).cast("B", shape=[len(square) // 4, 4])
    assert remitrax.parse(grid).document.write() == square


@pytest.mark.parametrize(
    ("data", "found"),
    [
        (array.array("i", [1]), "format 'i'"),
        (array.array("H", [1]), "format 'H'"),
        ((ctypes.c_ubyte * 3)(), "format '<B'"),
        (5, "type int"),
        (None, "type NoneType"),
        ([1, 2], "type list"),
    ],
)
def test_a_buffer_of_other_items_is_refused_with_what_was_found(data, found):
    with pytest.raises(TypeError) as caught:
        remitrax.parse(data)
    assert str(caught.value) == BUFFER_REFUSAL + found
    assert caught.value.__cause__ is None and caught.value.__suppress_context__ is False


def released_view():
    view = memoryview(ISA)
    view.release()
    return view


def closed_map():
    mapping = mmap.mmap(-1, len(ISA))
    mapping.close()
    return mapping


@pytest.mark.parametrize("function", [remitrax.parse, remitrax.stream], ids=["parse", "stream"])
@pytest.mark.parametrize(
    ("make", "found", "cause"),
    [
        (released_view, "type memoryview, whose buffer cannot be read: operation forbidden on released memoryview object", ValueError),
        (closed_map, "type mmap, whose buffer cannot be read: mmap closed or invalid", ValueError),
        (lambda: memoryview(b"I").cast("B", []), "format 'B' in a 0-dimensional buffer", None),
        (lambda: memoryview(b"I").cast("c", []), "format 'c' in a 0-dimensional buffer", None),
    ],
    ids=["released-memoryview", "closed-mmap", "0-dimensional-B", "0-dimensional-c"],
)
def test_a_byte_buffer_that_cannot_be_read_is_refused_naming_why(function, make, found, cause):
    with pytest.raises(TypeError) as caught:
        function(make())
    assert str(caught.value) == BUFFER_REFUSAL.replace("parse", function.__name__, 1) + found
    if cause is None:
        assert caught.value.__cause__ is None
    else:
        assert type(caught.value.__cause__) is cause
        assert str(caught.value).endswith(str(caught.value.__cause__))


@pytest.mark.parametrize(
    ("stop", "raised"),
    [(KeyboardInterrupt, KeyboardInterrupt), (SystemExit, SystemExit), (MemoryError, MemoryError), (ValueError, TypeError)],
)
def test_only_an_exception_may_give_way_to_the_refusal(monkeypatch, stop, raised):
    error = stop()

    def stopped(data):
        raise error

    # The refusal of a non-buffer looks at the object through memoryview() to describe it.
    monkeypatch.setattr(builtins, "memoryview", stopped)
    with pytest.raises(raised) as caught:
        remitrax.parse(5)
    monkeypatch.undo()
    if raised is TypeError:
        assert str(caught.value) == BUFFER_REFUSAL + "type int"
    else:
        assert caught.value is error


def test_argument_checks_run_in_the_order_spec_delimiters_data():
    with pytest.raises(TypeError) as caught:
        remitrax.parse("x", spec=1, delimiters=2)
    assert str(caught.value) == "'int' object is not an instance of 'Spec'"
    assert caught.value.__notes__ == ["while processing 'spec'"]
    with pytest.raises(TypeError, match="not an instance of 'Delimiters'") as caught:
        remitrax.parse("x", delimiters=remitrax.Spec.builtin())
    assert caught.value.__notes__ == ["while processing 'delimiters'"]
    with pytest.raises(TypeError) as caught:
        remitrax.parse("x")
    assert str(caught.value) == STR_REFUSAL
    with pytest.raises(TypeError) as caught:
        remitrax.parse(data="x", spec=None, delimiters=None)
    assert str(caught.value) == STR_REFUSAL


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: remitrax.parse(), "parse() missing required argument 'data' (pos 1)"),
        (lambda: remitrax.parse(b"", None, None, 1), "parse() takes at most 3 arguments (4 given)"),
        (lambda: remitrax.parse(b"", data=b""), "argument for parse() given by name ('data') and position (1)"),
        (lambda: remitrax.parse(b"", by="x"), "'by' is an invalid keyword argument for parse()"),
    ],
)
def test_arguments_are_bound_in_the_interpreters_wording(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message


@pytest.mark.parametrize(
    ("data", "message"),
    [
        (b"", "input does not start with an ISA segment (input is empty)"),
        (b"GS*HP~", "input does not start with an ISA segment (found bytes [47 53 2a 48 50 7e])"),
        (
            b"\xef\xbb\xbf  ISA*00",
            "ISA segment truncated after 6 bytes (counted after skipping a UTF-8 byte order mark "
            "and 2 bytes of whitespace): found 1 of 16 element separators",
        ),
    ],
)
def test_input_whose_header_cannot_be_read_raises_parse_error(data, message):
    with pytest.raises(remitrax.ParseError) as caught:
        remitrax.parse(data)
    assert caught.value.args == (message,)


# A child interpreter maps 4 GiB + 1 bytes of which only the first page (or nothing) can be
# read, and parses them: reading any byte past the header, as copying would, kills the child.
OVERSIZED_CHILD = """
import ctypes, mmap, sys
import remitrax
size = 2**32 + 1
head = bytes.fromhex(sys.argv[1])
mapping = mmap.mmap(-1, size, flags=mmap.MAP_PRIVATE)
mapping[: len(head)] = head
base = ctypes.addressof(ctypes.c_char.from_buffer(mapping))
readable = mmap.PAGESIZE if head else 0
libc = ctypes.CDLL(None, use_errno=True)
if libc.mprotect(ctypes.c_void_p(base + readable), ctypes.c_size_t(size - readable), 0) != 0:
    raise OSError(ctypes.get_errno(), "mprotect")
delimiters = remitrax.Delimiters(b"*", b":", b"~") if sys.argv[2] == "given" else None
try:
    remitrax.parse(mapping, delimiters=delimiters)
except remitrax.ParseError as error:
    print(error.args[0])
"""
SIZE_REFUSAL = (
    "input of 4294967297 bytes exceeds the document size limit of 4294967295 bytes "
    "(segment offsets are stored as 32-bit integers)"
)


@pytest.mark.parametrize(
    ("head", "delimiters", "message"),
    [
        (b"", "given", SIZE_REFUSAL),
        (ISA, "read", SIZE_REFUSAL),
        (b"  " + ISA, "read", SIZE_REFUSAL),
        (b"GS*HP~", "read", None),
        (b"\xef\xbb\xbf \r\nIEA*1~", "read", None),
    ],
)
def test_an_oversized_input_is_refused_before_its_bytes_are_copied(head, delimiters, message):
    if message is None:  # the header's own refusal, as for the readable page alone
        page = head.ljust(4096, b"\0")
        with pytest.raises(remitrax.ParseError) as caught:
            remitrax.parse(page)
        message = caught.value.args[0]
    child = subprocess.run(
        [sys.executable, "-c", OVERSIZED_CHILD, head.hex(), delimiters],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert (child.returncode, child.stdout) == (0, message + "\n"), child.stderr


def test_caller_delimiters_index_input_without_a_header():
    result = remitrax.parse(b"AB|1^2!CD|3!", delimiters=remitrax.Delimiters(b"|", b"^", b"!"))
    document = result.document
    assert [segment.id for segment in document] == [b"AB", b"CD"]
    assert document[0].elements == [[b"1", b"2"]]
    assert document.delimiters == remitrax.Delimiters(b"|", b"^", b"!")


def test_result_holds_the_same_objects_and_counts_in_its_repr(example):
    assert example.document is example.document
    assert example.tables is example.tables
    assert example.diagnostics is example.diagnostics
    assert repr(example) == "Result(segments=40, tables=5, diagnostics=0)"
    extra = remitrax._external_diagnostic("v", "m", 1)
    example.diagnostics.append(extra)
    try:
        assert repr(example) == "Result(segments=40, tables=5, diagnostics=1)"
    finally:
        example.diagnostics.remove(extra)
    with pytest.raises(AttributeError):
        example.tables = None


def test_a_bytearray_changed_after_parse_leaves_the_document_alone(example_bytes):
    data = bytearray(example_bytes)
    result = remitrax.parse(data)
    data[:3] = b"XXX"
    data.extend(b"tail")
    assert result.document.write() == example_bytes


def test_the_declared_version_chooses_the_builtin_spec(example_bytes):
    as_4010 = example_bytes.replace(b"*X*005010X221A1~", b"*X*004010X091A1~")
    assert as_4010 != example_bytes
    assert remitrax.parse(as_4010).tables.keys() == remitrax.parse(as_4010, spec=remitrax.Spec.builtin("4010")).tables.keys()
    # The 4010 spec reads the claim's patient from a different element than 5010 would
    # when its own definitions differ; the counts of what each chose tell them apart.
    chosen = remitrax.parse(as_4010).diagnostics
    forced_5010 = remitrax.parse(as_4010, spec=remitrax.Spec.builtin()).diagnostics
    forced_4010 = remitrax.parse(as_4010, spec=remitrax.Spec.builtin("4010")).diagnostics
    assert [str(d) for d in chosen] == [str(d) for d in forced_4010]
    assert [str(d) for d in chosen] != [str(d) for d in forced_5010]
    undeclared = example_bytes.replace(b"*X*005010X221A1~", b"*X*999999~")
    assert [str(d) for d in remitrax.parse(undeclared).diagnostics] == [
        str(d) for d in remitrax.parse(undeclared, spec=remitrax.Spec.builtin()).diagnostics
    ]


def snapshot(result):
    return (
        result.document.write(),
        [str(d) for d in result.diagnostics],
        result.tables.render(),
    )


def test_threads_parsing_at_once_give_what_one_thread_gives():
    files = [data for data in map(pathlib.Path.read_bytes, sample_files()) if data.startswith(b"ISA")]
    # Each file repeated, so that the parses are long enough to overlap.
    files = [data * 40 for data in files[:8]]
    assert len(files) == 8
    expected = [snapshot(remitrax.parse(data)) for data in files]
    got = [None] * len(files)
    start = threading.Barrier(len(files))

    def work(i):
        start.wait()
        for _ in range(5):
            got[i] = snapshot(remitrax.parse(files[i]))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(files))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert got == expected


class Bytes(bytes):
    """A bytes subclass, which may export another buffer: copied like a bytearray."""


def counts(tables_list, diagnostics):
    totals = {}
    for tables in tables_list:
        for name in tables:
            totals[name] = totals.get(name, 0) + len(tables[name])
    return totals, len(diagnostics)


@pytest.mark.parametrize("form", [bytes, Bytes, bytearray])
def test_a_large_input_of_any_form_reads_alike_from_threads(example_bytes, form):
    # Over the size that stream copies without the GIL when the input is an exact bytes.
    data = example_bytes * (2**20 // len(example_bytes) + 1)
    result = remitrax.parse(data)
    batches = list(remitrax.stream(data))
    expected = (
        counts([result.tables], result.diagnostics),
        counts([b.tables for b in batches], [d for b in batches for d in b.diagnostics]),
    )
    got = []

    def work():
        own = form(data)
        result = remitrax.parse(own)
        assert result.document.write() == data
        batches = list(remitrax.stream(own))
        got.append((
            counts([result.tables], result.diagnostics),
            counts([b.tables for b in batches], [d for b in batches for d in b.diagnostics]),
        ))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert got == [expected] * 4


def test_every_public_sample_parses_and_writes_back():
    paths = sample_files()
    assert paths
    for path in paths:
        data = path.read_bytes()
        try:
            document = remitrax.parse(data).document
        except remitrax.ParseError:
            # Files without an interchange header are read with the caller's delimiters.
            assert not data.lstrip(b"\xef\xbb\xbf \t\r\n").startswith(b"ISA"), path.name
            document = remitrax.parse(data, delimiters=remitrax.Delimiters()).document
        assert document.write() == data, path.name
        assert b"".join(segment.raw for segment in document) == data, path.name


def test_a_minimal_interchange_gives_the_builtin_tables():
    result = remitrax.parse(ISA + b"IEA*0*000000001~")
    assert result.tables.keys() == ["adjustments", "claims", "payments", "provider_adjustments", "services"]
    assert all(len(result.tables[name]) == 0 for name in result.tables)
