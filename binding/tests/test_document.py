"""Document, Segment and Delimiters."""

import pytest

import remitrax
from conftest import ISA


@pytest.fixture(scope="module")
def document(example):
    return example.document


def test_indexing_counts_from_either_end_and_names_the_index_as_written(document):
    n = len(document)
    assert document[-1].index == n - 1
    assert document[-n].index == 0 and document[0].id == b"ISA"
    for index in [n, -n - 1, 2**63 - 1, -(2**63)]:
        with pytest.raises(IndexError) as caught:
            document[index]
        assert str(caught.value) == f"segment index {index} is out of range: the document has {n} segments"
    with pytest.raises(OverflowError):
        document[2**63]
    with pytest.raises(TypeError, match="argument 'index'"):
        document["1"]
    with pytest.raises(TypeError):
        document[0:2]


def test_iteration_gives_every_segment_once_and_their_raw_bytes_give_the_file(document, example_bytes):
    segments = list(document)
    assert [s.index for s in segments] == list(range(len(document)))
    assert b"".join(s.raw for s in segments) == example_bytes == document.write()
    spans = [s.span for s in segments]
    assert spans[0][0] == 0 and spans[-1][1] == len(example_bytes)
    assert all(a[1] == b[0] for a, b in zip(spans, spans[1:]))
    assert all(example_bytes[start:end] == s.raw for s, (start, end) in zip(segments, spans))


def test_a_trailing_line_break_is_a_last_empty_segment(document):
    last = document[-1]
    assert (last.id, last.elements, last.raw) == (b"", [], b"\n")
    assert repr(last) == f"Segment(index={len(document) - 1}, id=b'')"


def test_segments_show_simple_and_composite_elements(document):
    service = next(s for s in document if s.id == b"SVC")
    assert service.elements[:3] == [[b"HC", b"99213"], b"300", b"240"]
    assert repr(service) == f"Segment(index={service.index}, id=b'SVC')"
    assert repr(document) == f"Document(segments={len(document)}, bytes={len(document.write())})"


def test_release_characters_are_removed_from_values():
    delimiters = remitrax.Delimiters(release=b"?")
    document = remitrax.parse(b"NM1*A?*B*C?:D:E~", delimiters=delimiters).document
    assert document[0].elements == [b"A*B", [b"C:D", b"E"]]
    assert document[0].raw == b"NM1*A?*B*C?:D:E~"
    assert document.delimiters == delimiters and document.delimiters.release == b"?"


def test_header_delimiters_carry_the_repetition_separator(document):
    d = document.delimiters
    assert (d.element, d.component, d.segment, d.repetition, d.release) == (b"*", b":", b"~", b"^", None)


def test_a_segment_keeps_its_document_alive(example_bytes):
    segment = remitrax.parse(example_bytes).document[1]
    assert segment.id == b"GS"


@pytest.mark.parametrize(
    ("kwargs", "error", "message"),
    [
        ({"element": "*"}, TypeError, "Delimiters() argument 'element' must be bytes, not str"),
        ({"release": bytearray(b"?")}, TypeError, "Delimiters() argument 'release' must be bytes or None, not bytearray"),
        # Every type is checked before any length.
        ({"element": b"", "release": 1}, TypeError, "argument 'release'"),
        ({"segment": b"~~"}, ValueError, "delimiter segment must be exactly one byte, got 2 bytes: b'~~'"),
        ({"element": b"", "segment": b"~~"}, ValueError, "delimiter element must be exactly one byte, got 0 bytes: b''"),
        ({"repetition": b"\x00\x01"}, ValueError, "delimiter repetition must be exactly one byte, got 2 bytes: b'\\x00\\x01'"),
        ({"colour": b"*"}, TypeError, "'colour' is an invalid keyword argument for Delimiters()"),
    ],
)
def test_delimiters_refuse_what_is_not_one_byte(kwargs, error, message):
    with pytest.raises(error) as caught:
        remitrax.Delimiters(**kwargs)
    assert message in str(caught.value)


def test_delimiters_compare_all_five_and_are_unhashable():
    assert remitrax.Delimiters() == remitrax.Delimiters(b"*", b":", b"~")
    assert remitrax.Delimiters(release=b"?") != remitrax.Delimiters()
    assert remitrax.Delimiters(repetition=None) == remitrax.Delimiters()
    assert (remitrax.Delimiters() == None) is False  # noqa: E711
    assert remitrax.Delimiters() != "Delimiters()"
    with pytest.raises(TypeError):
        remitrax.Delimiters() < remitrax.Delimiters()
    assert remitrax.Delimiters.__hash__ is None
    with pytest.raises(TypeError):
        hash(remitrax.Delimiters())
    assert repr(remitrax.Delimiters(repetition=b"^")) == (
        "Delimiters(element=b'*', component=b':', segment=b'~', repetition=b'^', release=None)"
    )


def test_caller_delimiters_skip_the_header_and_may_coincide():
    # No header is read: a broken one is indexed all the same.
    document = remitrax.parse(b"ISA*broken~X*1~", delimiters=remitrax.Delimiters()).document
    assert [s.id for s in document] == [b"ISA", b"X"]
    same = remitrax.Delimiters(b"*", b"*", b"~")
    assert remitrax.parse(ISA, delimiters=same).document.delimiters == same


def test_classes_are_closed_views():
    for cls in (remitrax.Document, remitrax.Segment):
        with pytest.raises(TypeError):
            cls()
    for cls in (remitrax.Document, remitrax.Segment, remitrax.Delimiters):
        assert cls.__module__ == "remitrax._core"
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
    with pytest.raises(AttributeError):
        remitrax.Delimiters().element = b"|"
