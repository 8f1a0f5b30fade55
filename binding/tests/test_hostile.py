"""Hostile input: damaged files, many reads at once and a spec of hundreds of loops neither
crash nor hang, and parse and stream keep every byte and agree on every row and finding."""

import concurrent.futures
import json
import random

import pytest

import remitrax
from conftest import EXAMPLE, ISA, parsed, read_arguments, sample_files, sample_folder, sample_params, streamed

# Each file gives CASES damaged copies, or for a large file as many as add up to about BYTES,
# and 2 at least.
CASES = 60
BYTES = 2_000_000


def outcome(data, **kwargs):
    """What parse and what stream make of `data`, side by side: the ParseError each raised,
    or the bytes written back with the rows and diagnostics. Stream's side carries the input
    itself where parse's carries what its document writes, so equal sides mean both."""
    try:
        result = remitrax.parse(data, **kwargs)
        from_parse = (result.document.write(), *parsed(result))
    except remitrax.ParseError as error:
        from_parse = (repr(error),)
    try:
        from_stream = (data, *streamed(list(remitrax.stream(data, **kwargs))))
    except remitrax.ParseError as error:
        from_stream = (repr(error),)
    return from_parse, from_stream


def damage(data, rng, header, delimiters):
    """One damaged copy of `data` and what was done to it: a cut, bytes overwritten (half
    the time inside the header, where the delimiters are read), two delimiters exchanged
    over a stretch of the body or the whole file, stray delimiters inserted, or a stretch of
    the file (maybe its header, maybe a control segment) copied into the body."""
    kind = rng.choice(["cut", "overwrite", "exchange", "insert", "copy"]) if data else "cut"
    out = bytearray(data)
    if kind == "cut":
        at = rng.randrange(len(data) + 1)
        return data[:at], f"cut at {at}"
    if kind == "overwrite":
        done = []
        for _ in range(rng.randint(1, 8)):
            at = rng.randrange(header or len(out)) if rng.random() < 0.5 else rng.randrange(len(out))
            out[at] = rng.randrange(256)
            done.append((at, out[at]))
        return bytes(out), f"bytes overwritten (offset, value): {done}"
    if kind == "exchange":
        a, b = rng.sample(delimiters, 2)
        start = 0 if rng.random() < 0.25 else rng.randrange(header, len(out) + 1)
        end = len(out) if start == 0 else rng.randrange(start, len(out) + 1)
        out[start:end] = out[start:end].translate(bytes.maketrans(a + b, b + a))
        return bytes(out), f"{a!r} and {b!r} exchanged in [{start}, {end})"
    if kind == "copy":
        start = rng.randrange(len(out))
        end = rng.randrange(start, min(start + 400, len(out)) + 1)
        at = rng.randrange(header, len(out) + 1)
        out[at:at] = out[start:end]
        return bytes(out), f"[{start}, {end}) copied to {at}"
    places = sorted(rng.randrange(header, len(out) + 1) for _ in range(rng.randint(1, 8)))
    inserted = [(at, rng.choice(delimiters)) for at in places]
    for at, delimiter in reversed(inserted):
        out[at:at] = delimiter
    return bytes(out), f"inserted (offset, delimiter): {inserted}"


def damaged(path, cases):
    """Up to `cases` damaged copies of a file, each made from a seed of its own, as (data,
    arguments, where the header ends, what was done); a failing case is rebuilt from the seed
    in its description. The header is the first ISA segment with its leading trivia, none
    for a file read with the caller's delimiters."""
    data = path.read_bytes()
    kwargs = read_arguments(data)
    document = remitrax.parse(data, **kwargs).document
    header = 0 if kwargs else document[0].span[1]
    found = document.delimiters
    delimiters = [d for d in (found.element, found.component, found.segment, found.repetition, found.release) if d]
    for case in range(min(cases, max(2, BYTES // max(len(data), 1)))):
        seed = f"{path.name}:{case}"
        mutated, how = damage(data, random.Random(seed), header, delimiters)
        yield mutated, kwargs, header, f"seed {seed!r}: {how}"


@pytest.mark.parametrize("path", [EXAMPLE, *sample_params()], ids=lambda path: path.name)
def test_damaged_files_are_read_alike_by_parse_and_stream_and_written_back(path):
    if path is None:
        sample_folder()
    original = path.read_bytes()
    for data, kwargs, header, how in damaged(path, CASES):
        try:
            from_parse, from_stream = outcome(data, **kwargs)
        except Exception as error:  # anything but the ParseError that outcome keeps
            raise AssertionError(how) from error
        # A file read with the caller's delimiters, or whose header survived, always reads.
        if data[:header] == original[:header]:
            assert len(from_parse) == 3, f"{how}: {from_parse[0]}"
        assert from_parse == from_stream, how


def test_damaged_files_read_at_once_read_as_one_at_a_time():
    cases = [(data, kwargs) for path in [EXAMPLE, *sample_files()] for data, kwargs, _, _ in damaged(path, 2)]
    expected = [outcome(data, **kwargs) for data, kwargs in cases]
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        got = list(pool.map(lambda case: outcome(case[0], **case[1]), cases))
    assert got == expected


# 150 loops nested one in the next, all opened by C and told apart by C01, and 150 siblings
# opened by S and told apart by S01, each holding a V.
DEPTH = 150
NESTED = [f"c{i:03}" for i in range(DEPTH)]
SIBLINGS = [f"s{i:03}" for i in range(DEPTH)]
WIDE_SPEC = {
    "name": "wide",
    "loops": {
        "interchange": {"trigger": {"segment": "ISA"}, "end": "IEA"},
        **{
            name: {"parent": parent, "trigger": {"segment": "C", "where": {"1": name[1:]}}}
            for name, parent in zip(NESTED, ["interchange", *NESTED])
        },
        **{
            name: {"parent": "interchange", "trigger": {"segment": "S", "where": {"1": name[1:]}}, "segments": ["V"]}
            for name in SIBLINGS
        },
    },
    "tables": {
        "levels": {"segment": "C", "loops": NESTED, "columns": {"level": {"element": 1}}},
        "siblings": {
            "loops": SIBLINGS,
            "columns": {"number": {"segment": "S", "element": 1}, "value": {"segment": "V", "element": 1}},
        },
    },
}


@pytest.mark.parametrize("by", ["c000", NESTED[-1], SIBLINGS[-1], "interchange"])
def test_a_spec_of_hundreds_of_loops_places_every_segment(by):
    spec = remitrax.Spec.from_json(json.dumps(WIDE_SPEC))
    assert len(spec.loops()) == 2 * DEPTH + 1
    # The chain opened to its deepest loop, closed by the first sibling; then every sibling
    # and an S that opens none of them. Three times over.
    chain = b"".join(b"C*" + name[1:].encode() + b"~" for name in NESTED)
    siblings = b"".join(b"S*" + name[1:].encode() + b"~V*" + name.encode() + b"~" for name in SIBLINGS)
    data = ISA + (chain + siblings + b"S*999~") * 3 + b"IEA*1*000000001~"
    result = remitrax.parse(data, spec=spec)
    tables, diagnostics = parsed(result)
    assert [row["level"] for row in tables["levels"]] == [name[1:].encode() for name in NESTED] * 3
    assert [(row["number"], row["value"]) for row in tables["siblings"]] == [
        (name[1:].encode(), name.encode()) for name in SIBLINGS
    ] * 3
    assert [d.kind for d in result.diagnostics] == ["UnknownSegment"] * 3
    assert streamed(list(remitrax.stream(data, spec=spec, by=by))) == (tables, diagnostics)
