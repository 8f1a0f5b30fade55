"""stream, Stream and Batch: argument checks, where batches are cut, and the rows of all
batches against those of parse."""

import threading

import pyarrow as pa
import pytest

import remitrax
from conftest import EXAMPLE, parsed, read_arguments, rows, sample_folder, sample_params, streamed

LOOPS = "1000A, 1000B, 2000, 2100, 2110, group, interchange, transaction"


def test_arguments_are_checked_in_the_order_spec_by_delimiters_data():
    with pytest.raises(TypeError) as caught:
        remitrax.stream("x", spec=1, by=2, delimiters=3)
    assert caught.value.__notes__ == ["while processing 'spec'"]
    for by, message in [(None, "'None' is not an instance of 'str'"), (5, "'int' object is not an instance of 'str'")]:
        with pytest.raises(TypeError) as caught:
            remitrax.stream("x", by=by, delimiters=3)
        assert (str(caught.value), caught.value.__notes__) == (message, ["while processing 'by'"])
    with pytest.raises(UnicodeEncodeError) as caught:
        remitrax.stream(b"", by="\ud800")
    assert caught.value.__notes__ == ["while processing 'by'"]
    with pytest.raises(TypeError, match="not an instance of 'Delimiters'") as caught:
        remitrax.stream("x", delimiters=3)
    with pytest.raises(TypeError, match="^the input must be bytes"):
        remitrax.stream("x")
    with pytest.raises(TypeError, match="^stream: argument data must be a buffer of unsigned bytes"):
        remitrax.stream(5)


def test_by_is_checked_before_the_input_is_read(example_bytes):
    for data in (b"", b"no header at all", example_bytes):
        with pytest.raises(ValueError) as caught:
            remitrax.stream(data, by="nope")
        assert str(caught.value) == f'stream by "nope": the spec has no such loop; its loops are {LOOPS}'
    mine = remitrax.Spec.builtin().patch({"name": "mine"})
    with pytest.raises(ValueError, match='^stream by "claim"'):
        remitrax.stream(b"", spec=mine, by="claim")


def test_input_without_a_header_needs_delimiters():
    with pytest.raises(remitrax.ParseError, match=r"^input does not start with an ISA segment \(input is empty\)$"):
        remitrax.stream(b"")
    stream = remitrax.stream(b"", delimiters=remitrax.Delimiters())
    assert iter(stream) is stream
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(stream)


def test_one_batch_per_transaction_and_nothing_after(example_bytes):
    batches = list(remitrax.stream(example_bytes * 2))
    assert [repr(b) for b in batches] == [
        "Batch(tables=Tables(adjustments: 5 rows, claims: 2 rows, payments: 1 rows, "
        "provider_adjustments: 0 rows, services: 3 rows), diagnostics=0)"
    ] * 2
    assert batches[0].tables is batches[0].tables and batches[0].diagnostics is batches[0].diagnostics
    # Row numbers run on across batches.
    assert [rows(b.tables["claims"])[0]["row"] for b in batches] == [0, 2]


def test_batches_are_cut_at_each_close_even_when_empty(example_bytes):
    by_claim = list(remitrax.stream(example_bytes, by="2100"))
    assert [len(b.tables["claims"]) for b in by_claim] == [1, 1]
    # The payment row comes with the step that closes the last claim and the transaction.
    assert [len(b.tables["payments"]) for b in by_claim] == [0, 1]
    # The payer's loop closes when the payee's opens: nothing is appended then.
    by_payer = list(remitrax.stream(example_bytes, by="1000A"))
    assert len(by_payer) == 2
    assert sum(len(by_payer[0].tables[name]) for name in by_payer[0].tables) == 0
    assert by_payer[0].diagnostics == []


def test_the_last_batch_holds_what_follows_the_last_close(example_bytes):
    # The SE count is wrong, and a segment follows the interchange.
    data = example_bytes.replace(b"SE*35*0001~", b"SE*36*0001~") + b"ZZZ*1~"
    batches = list(remitrax.stream(data))
    assert len(batches) == 2
    assert [d.kind for d in batches[0].diagnostics] == ["ControlCountMismatch"]
    assert [d.kind for d in batches[1].diagnostics] == ["UnknownSegment"]
    assert sum(len(batches[1].tables[name]) for name in batches[1].tables) == 0


@pytest.mark.parametrize("path", [EXAMPLE, *sample_params()], ids=lambda path: path.name)
def test_batches_together_hold_what_parse_holds(path):
    if path is None:
        sample_folder()
    # The example three times over, so that its batches cross interchanges.
    data = path.read_bytes() * (3 if path == EXAMPLE else 1)
    kwargs = read_arguments(data)
    for by in ("transaction", "2100", "interchange"):
        # Every batch holds every table, maybe empty; the rows, in order, are the parse's.
        batches = list(remitrax.stream(data, by=by, **kwargs))
        assert streamed(batches) == parsed(remitrax.parse(data, **kwargs))


@pytest.mark.parametrize("hold", ["nothing", "arrow"])
@pytest.mark.parametrize("path", [EXAMPLE, *sample_params()], ids=lambda path: path.name)
def test_batches_dropped_as_they_come_hold_what_parse_holds(path, hold):
    # The buffers of batches nobody reads any more are filled again by later ones; a batch
    # still read through Arrow keeps its rows.
    if path is None:
        sample_folder()
    data = path.read_bytes() * (3 if path == EXAMPLE else 1)
    kwargs = read_arguments(data)
    for by in ("transaction", "2100", "2110"):
        tables, diagnostics, held = {}, [], []
        for batch in remitrax.stream(data, by=by, **kwargs):
            seen = {name: rows(batch.tables[name]) for name in batch.tables if len(batch.tables[name])}
            for name, found in seen.items():
                tables.setdefault(name, []).extend(found)
            diagnostics.extend(str(d) for d in batch.diagnostics)
            if hold == "arrow":
                held.append((seen, {name: pa.table(batch.tables[name]) for name in seen}))
        assert (tables, diagnostics) == parsed(remitrax.parse(data, **kwargs))
        for seen, arrow in held:
            assert {name: table.to_pylist() for name, table in arrow.items()} == seen


@pytest.mark.parametrize("by", ["transaction", "2110"])
def test_threads_on_one_stream_lose_and_repeat_nothing(example_bytes, by):
    data = example_bytes * 200
    count = len(list(remitrax.stream(data, by=by)))
    stream = remitrax.stream(data, by=by)
    got, refused, failed = [], [], []
    gate = threading.Barrier(6)

    def pull():
        gate.wait()
        while True:
            try:
                got.append(next(stream))
            except RuntimeError as error:
                refused.append(str(error))
            except StopIteration:
                return
            except Exception as error:  # anything else is a fault, reported below
                failed.append(error)
                return

    threads = [threading.Thread(target=pull) for _ in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
        assert not thread.is_alive()
    assert failed == []
    assert set(refused) <= {
        "Stream.__next__: this stream is already being advanced by another thread; "
        "a stream is advanced from one thread at a time"
    }
    # Threads append their batches in any order; rows are numbered across batches.
    assert len(got) == count
    tables, diagnostics = streamed(got)
    expected_tables, expected_diagnostics = parsed(remitrax.parse(data))
    assert {name: sorted(found, key=lambda row: row["row"]) for name, found in tables.items()} == expected_tables
    assert sorted(diagnostics) == sorted(expected_diagnostics)


def test_streams_and_batches_have_no_constructor():
    for cls in (remitrax.Stream, remitrax.Batch):
        with pytest.raises(TypeError):
            cls()
