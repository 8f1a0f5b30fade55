"""The Result helpers: payer, payee, count_claims, count_patients and sum_payments."""

import decimal
import json

import pytest

import remitrax
from conftest import ISA, TYPED_SPEC

GS = b"GS*HP*S*R*20261201*1200*1*X*005010X221A1~"


def transaction(control, body, count):
    return b"ST*835*" + control + b"~" + body + b"SE*" + str(count).encode() + b"*" + control + b"~"


def interchange(*transactions):
    return ISA + GS + b"".join(transactions) + b"GE*1*1~IEA*1*000000001~"


PAYMENT = b"BPR*I*10*C*ACH*CCP*01*1*DA*1*1**01*1*DA*1*20261201~TRN*1*T1*1~"


def test_payer_and_payee_read_their_six_columns(example):
    assert example.payer == {
        "name": "NORTHWIND HEALTH PLAN",
        "identification_code": "NWHP01",
        "address": "100 MAIN STREET",
        "city": "SPRINGFIELD",
        "state": "IL",
        "zip_code": "62701",
    }
    assert list(example.payee) == ["name", "identification_code", "address", "city", "state", "zip_code"]
    assert example.payee["identification_code"] == "1234567893"
    only_name = remitrax.parse(interchange(transaction(b"0001", PAYMENT + b"N1*PR*ACME~", 5)))
    assert only_name.payer == {"name": "ACME", **dict.fromkeys(["identification_code", "address", "city", "state", "zip_code"])}
    assert only_name.payee is None


@pytest.mark.parametrize(
    ("data", "rows"),
    [
        (interchange(), 0),
        (interchange(transaction(b"0001", PAYMENT, 4), transaction(b"0002", PAYMENT, 4)), 2),
    ],
)
def test_payer_and_payee_read_exactly_one_transaction(data, rows):
    result = remitrax.parse(data)
    for which in ("payer", "payee"):
        with pytest.raises(ValueError) as caught:
            getattr(result, which)
        assert str(caught.value) == f'Result.{which} reads one transaction; the table "payments" has {rows} rows'


def test_counts_and_the_sum(example):
    # The example's patients are "0123" and "123": two, read as text.
    assert (example.count_claims(), example.count_patients()) == (2, 2)
    assert example.sum_payments() == decimal.Decimal("1186.40")
    assert str(example.sum_payments()) == "1186.40"
    empty = remitrax.parse(interchange())
    assert empty.sum_payments() == decimal.Decimal("0.00") and str(empty.sum_payments()) == "0.00"
    assert (empty.count_claims(), empty.count_patients()) == (0, 0)
    body = PAYMENT.replace(b"BPR*I*10*", b"BPR*I*-2.50*")
    two = remitrax.parse(interchange(transaction(b"0001", PAYMENT, 4), transaction(b"0002", body, 4)))
    assert two.sum_payments() == decimal.Decimal("7.50")


def payments_spec(element_type, **extra):
    spec = json.loads(json.dumps(TYPED_SPEC))
    spec["segments"]["ITM"]["elements"]["4"] = {"name": "amount", "type": element_type, **extra}
    spec["tables"] = {"payments": {"loops": ["item"], "columns": {"total_payment_amount": {"segment": "ITM", "element": 4}}}}
    return remitrax.Spec.from_json(json.dumps(spec))


def items(*amounts):
    return ISA + b"".join(b"ITM*A*1*1*" + amount + b"~" for amount in amounts) + b"IEA*1*000000001~"


def test_a_sum_past_128_bits_names_the_row_and_its_amount():
    nines = b"9" * 38
    result = remitrax.parse(items(nines, b"", nines, b"1"), spec=payments_spec("R", scale=0))
    with pytest.raises(ValueError) as caught:
        result.sum_payments()
    assert str(caught.value) == (
        'Result.sum_payments: the sum of "total_payment_amount" in the table "payments" '
        f"overflows a 128-bit decimal at row 2 (amount {'9' * 38})"
    )
    # 36 digits at scale 2 are 38 digits of units, the most a value holds.
    low = b"-" + b"9" * 36
    below = remitrax.parse(items(low, low), spec=payments_spec("R", scale=2))
    with pytest.raises(ValueError, match=rf"at row 1 \(amount -{'9' * 36}\.00\)$"):
        below.sum_payments()


def test_the_sum_reads_only_a_decimal_column():
    result = remitrax.parse(items(b"12"), spec=payments_spec("N2"))
    with pytest.raises(TypeError) as caught:
        result.sum_payments()
    assert str(caught.value) == (
        'Result.sum_payments reads "total_payment_amount" of the table "payments" as a '
        "decimal; it is int64 (scale 2)"
    )


def test_helpers_name_what_a_spec_without_their_tables_has(example_bytes):
    spec = remitrax.Spec.builtin().patch({"tables": {"claims": None, "services": None}})
    result = remitrax.parse(example_bytes, spec=spec)
    for call, name in [(result.count_claims, "count_claims"), (result.count_patients, "count_patients")]:
        with pytest.raises(KeyError) as caught:
            call()
        assert caught.value.args == (
            f'Result.{name} reads the table "claims"; the tables are: adjustments, payments, provider_adjustments',
        )
    no_amount = remitrax.parse(example_bytes, spec=remitrax.Spec.builtin().patch(
        {"tables": {"payments": {"columns": {"total_payment_amount": None, "payer_zip": None}}}}))
    with pytest.raises(KeyError, match="reads the column \"total_payment_amount\" of the table \"payments\"; its columns are: row, segment, "):
        no_amount.sum_payments()
    with pytest.raises(KeyError, match=r'^\'Result\.payer reads the column "payer_zip"'):
        no_amount.payer
