"""Tables, Table, the Arrow PyCapsule export and the pandas and polars conversions."""

import datetime
import decimal
import gc
import importlib.abc
import sys

import pyarrow as pa
import pytest

import remitrax
from conftest import typed_items

BUILTIN_TABLES = ["adjustments", "claims", "payments", "provider_adjustments", "services"]


@pytest.fixture(scope="module")
def typed(typed_spec):
    data = typed_items(
        b"A*1234*7*-12.5*20261231*235959",
        b"",
        b"\xff\x00*-5*0*0.001*19700101*0000",
    )
    result = remitrax.parse(data, spec=typed_spec)
    assert result.diagnostics == []
    return result.tables["items"]


def test_tables_is_a_read_only_mapping_of_names(example):
    tables = example.tables
    assert tables.keys() == list(tables) == BUILTIN_TABLES
    assert len(tables) == 5 and bool(tables)
    assert "claims" in tables and "nope" not in tables and 3 not in tables and None not in tables
    assert repr(tables) == (
        "Tables(adjustments: 5 rows, claims: 2 rows, payments: 1 rows, "
        "provider_adjustments: 0 rows, services: 3 rows)"
    )
    with pytest.raises(KeyError) as caught:
        tables["nope"]
    assert caught.value.args == ('there is no table "nope"; the tables are: ' + ", ".join(BUILTIN_TABLES),)
    with pytest.raises(TypeError, match="argument 'name' must be str, not int"):
        tables[3]
    with pytest.raises(TypeError):
        remitrax.Tables()


def test_a_table_views_its_rows_and_columns(example):
    claims = example.tables["claims"]
    assert claims.name == "claims" and len(claims) == 2
    assert claims.columns[:3] == ["row", "segment", "payment"]
    assert repr(claims) == f"Table(name='claims', rows=2, columns={len(claims.columns)})"
    assert claims.render() in example.tables.render()
    assert claims.render().startswith("## claims (rows: 2)\n")
    assert not example.tables["provider_adjustments"]


def test_a_spec_without_tables_gives_an_empty_tables(example_bytes):
    spec = remitrax.Spec.builtin().patch({"tables": {name: None for name in BUILTIN_TABLES}})
    tables = remitrax.parse(example_bytes, spec=spec).tables
    assert (repr(tables), len(tables), bool(tables), tables.keys(), tables.render()) == ("Tables()", 0, False, [], "")
    assert tables.to_pandas() == {} and tables.to_polars() == {}


def test_every_column_type_reaches_arrow_with_its_values(typed):
    table = pa.table(typed)
    schema = table.schema
    assert [f.name for f in schema] == typed.columns
    assert all(f.nullable for f in schema)
    assert schema.field("amount").type == pa.decimal128(38, 3)
    assert schema.field("at").type == pa.time32("s")
    assert schema.field("day").type == pa.date32()
    assert schema.field("code").type == pa.binary()
    assert schema.field("cents").type == pa.int64() and schema.field("cents").metadata == {b"scale": b"2"}
    assert schema.field("count").metadata is None and schema.field("amount").metadata is None
    assert table.to_pydict() == {
        "row": [0, 1, 2],
        "segment": [1, 2, 3],
        "amount": [decimal.Decimal("-12.500"), None, decimal.Decimal("0.001")],
        "at": [datetime.time(23, 59, 59), None, datetime.time(0, 0)],
        "cents": [1234, None, -5],
        "code": [b"A", None, b"\xff\x00"],
        "count": [7, None, 0],
        "day": [datetime.date(2026, 12, 31), None, datetime.date(1970, 1, 1)],
    }
    batch = pa.record_batch(typed)
    assert batch.schema == schema and batch.num_rows == 3
    assert pa.schema(typed) == schema


def test_validity_is_exported_only_where_there_are_nulls(typed):
    table = pa.table(typed)
    assert table.column("row").chunk(0).buffers()[0] is None
    code = table.column("code").chunk(0)
    assert code.null_count == 1 and code.buffers()[0] is not None
    assert [code.is_valid().to_pylist()] == [[True, False, True]]


def test_exports_share_the_column_buffers(typed):
    def addresses(table):
        columns = [c.chunk(0) if isinstance(c, pa.ChunkedArray) else c for c in table.columns]
        return [b.address for column in columns for b in column.buffers() if b is not None]

    first, second = pa.table(typed), pa.table(typed)
    assert addresses(first) == addresses(second)
    assert addresses(pa.record_batch(typed)) == addresses(first)


def test_buffers_outlive_every_python_object(example_bytes):
    result = remitrax.parse(example_bytes)
    table = pa.table(result.tables["services"])
    batch = pa.record_batch(result.tables["claims"])
    expected = result.tables["services"].render()
    del result
    gc.collect()
    assert table.num_rows == 3 and table.column("procedure_code").to_pylist() == [b"99213", b"80053", b"99214"]
    assert batch.column(batch.schema.get_field_index("claim_id")).to_pylist() == [b"PCN1001", b"PCN1002"]
    assert "99214" in expected


def test_an_empty_table_exports_zero_rows(example):
    empty = pa.table(example.tables["provider_adjustments"])
    assert empty.num_rows == 0
    reference = pa.record_batch(example.tables["provider_adjustments"]).column(
        example.tables["provider_adjustments"].columns.index("reference_id")
    )
    assert reference.buffers()[1].to_pybytes() == b"\x00\x00\x00\x00"


def test_capsules_follow_the_protocol(example):
    claims = example.tables["claims"]
    schema, array = claims.__arrow_c_array__()
    assert "arrow_schema" in repr(schema) and "arrow_array" in repr(array)
    assert "arrow_array_stream" in repr(claims.__arrow_c_stream__(requested_schema=object()))
    assert "arrow_schema" in repr(claims.__arrow_c_schema__())
    # Capsules never taken by a consumer are released with them.
    del schema, array
    gc.collect()
    with pytest.raises(TypeError):
        claims.__arrow_c_array__(None, None)


def test_pandas_and_polars_read_the_tables(example):
    frames = example.tables.to_pandas()
    assert list(frames) == BUILTIN_TABLES
    services = frames["services"]
    assert list(services.columns) == example.tables["services"].columns
    assert list(services["payment_amount"]) == [decimal.Decimal("240.00"), decimal.Decimal("370.40"), decimal.Decimal("576.00")]
    polars = example.tables["claims"].to_polars()
    assert polars.columns == example.tables["claims"].columns
    assert polars["claim_id"].to_list() == [b"PCN1001", b"PCN1002"]
    assert list(example.tables.to_polars()) == BUILTIN_TABLES


class Failing(importlib.abc.MetaPathFinder):
    """Makes importing the named packages fail: as when they are not installed, or with the
    given error."""

    def __init__(self, names, error):
        self.names = names
        self.error = error

    def find_spec(self, name, path, target=None):
        if name.split(".")[0] in self.names:
            if self.error is None:
                raise ModuleNotFoundError(f"No module named {name!r}", name=name)
            raise self.error
        return None


@pytest.fixture
def missing(monkeypatch):
    def hide(*names, error=None):
        for module in list(sys.modules):
            if module.split(".")[0] in names:
                monkeypatch.delitem(sys.modules, module)
        monkeypatch.setattr(sys, "meta_path", [Failing(names, error), *sys.meta_path])

    return hide


@pytest.mark.parametrize(
    ("error", "cause"),
    [(None, ModuleNotFoundError), (ImportError("half installed"), ImportError), (RuntimeError("broken"), RuntimeError)],
    ids=["not-installed", "import-error", "other-error"],
)
@pytest.mark.parametrize(
    ("hidden", "call", "message"),
    [
        (("pyarrow",), lambda t: t["claims"].to_pandas(), 'Table.to_pandas needs pyarrow, which is not installed; install it with: pip install "remitrax[pandas]"'),
        (("pandas",), lambda t: t.to_pandas(), 'Tables.to_pandas needs pandas, which is not installed; install it with: pip install "remitrax[pandas]"'),
        (("polars",), lambda t: t.to_polars(), 'Tables.to_polars needs polars, which is not installed; install it with: pip install "remitrax[polars]"'),
    ],
)
def test_a_missing_package_names_the_extra_to_install(example, missing, hidden, call, message, error, cause):
    missing(*hidden, error=error)
    with pytest.raises(ImportError) as caught:
        call(example.tables)
    assert str(caught.value) == message
    assert type(caught.value.__cause__) is cause
    assert error is None or caught.value.__cause__ is error
    assert caught.value.__suppress_context__


@pytest.mark.parametrize("stop", [KeyboardInterrupt, SystemExit, MemoryError])
@pytest.mark.parametrize(
    ("hidden", "call"),
    [
        ("pandas", lambda t: t["claims"].to_pandas()),
        ("pyarrow", lambda t: t["claims"].to_pandas()),
        ("pandas", lambda t: t.to_pandas()),
        ("polars", lambda t: t["claims"].to_polars()),
        ("polars", lambda t: t.to_polars()),
    ],
)
def test_an_import_stopped_by_an_interrupt_or_memory_raises_that(example, missing, hidden, call, stop):
    error = stop()
    missing(hidden, error=error)
    with pytest.raises(stop) as caught:
        call(example.tables)
    assert caught.value is error
    assert caught.value.__cause__ is None and caught.value.__context__ is None
