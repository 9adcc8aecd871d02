"""The qx480 tool's grammar of times and rates, read in Python: the same strings, the same refusals."""

from __future__ import annotations

import pytest

import qx480
from qx480 import units

MAX = 2**64 - 1


@pytest.mark.parametrize(
    ("text", "counts"),
    [
        ("10ns", 1000),
        ("10", 1000),
        ("10ps", 1),
        ("1.5us", 150000),
        ("1.5µs", 150000),
        ("1.5μs", 150000),  # Greek small mu
        ("2ms", 200000000),
        ("3s", 300000000000),
        ("100 ns", 10000),
        ("0.01ns", 1),
        ("0.01000000000000000000000000ns", 1),
        ("20ps", 2),
        ("1.23456789012s", 123456789012),
        ("1e3ns", 100000),
        ("1E3", 100000),
        ("1e+3ns", 100000),
        ("1e-2ns", 1),
        ("2.5e-1us", 25000),
        ("007ns", 700),
        (".5ns", 50),
        ("5.ns", 500),
        ("0", 0),
        ("0e999999999999999999ns", 0),
        ("1e0000000000000000003ns", 100000),
        ("184467440737095516.15ns", MAX),
        ("184467440.73709551615s", MAX),
    ],
)
def test_parse_time_takes_what_the_tool_takes(text: str, counts: int) -> None:
    assert qx480.parse_time(text) == counts


@pytest.mark.parametrize(
    ("text", "ending"),
    [
        ("5ps", "is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"),
        ("15ps", "is not a whole number of 10 ps steps: the nearest are 10ps and 20ps"),
        ("0.001ns", "is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"),
        ("1.000000000001s", "is not a whole number of 10 ps steps: the nearest are 1s and 1.00000000001s"),
        ("2.5e-2ns", "is not a whole number of 10 ps steps: the nearest are 20ps and 30ps"),
        ("12.345ns", "is not a whole number of 10 ps steps: the nearest are 12.34ns and 12.35ns"),
        ("999.995ns", "is not a whole number of 10 ps steps: the nearest are 999.99ns and 1us"),
        ("1e-999999999ns", "is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"),
        ("184467440737095516.155ns", "is not a whole number of 10 ps steps: the nearest is 184467440.73709551615s"),
        ("1" * 30 + ".5ps", "is beyond the longest time the device takes, 184467440.73709551615 s"),
        ("184467440737095516.165ns", "is beyond the longest time the device takes, 184467440.73709551615 s"),
        ("184467440737095516.16ns", "is beyond the longest time the device takes, 184467440.73709551615 s"),
        ("1e30s", "is beyond the longest time the device takes, 184467440.73709551615 s"),
        ("1e999999999999999999999s", "is beyond the longest time the device takes, 184467440.73709551615 s"),
        ("100000000000000000000000000ps", "is beyond the longest time the device takes, 184467440.73709551615 s"),
        ("-5ns", "is negative"),
        ("-0", "is negative"),
        ("-1e3us", "is negative"),
        ("-5xyz", "is negative"),
    ],
)
def test_parse_time_refuses_what_the_tool_refuses_in_its_words(text: str, ending: str) -> None:
    with pytest.raises(qx480.ArgumentError) as refused:
        qx480.parse_time(text, "delay")
    assert str(refused.value) == f"delay '{text}' {ending}"


NOT_A_TIME = "is not a time: give a number with ps, ns (the default), us, ms or s"
UNKNOWN_TIME_UNIT = "has an unknown unit: use ps, ns (the default), us, ms or s"


@pytest.mark.parametrize("text", ["", "ns", ".", "-", "1e", "1e+ns", "1.2.3", "1..2", "+5ns", "5-3", "e3", " 5ns"])
def test_parse_time_refuses_what_is_no_number(text: str) -> None:
    with pytest.raises(ValueError) as refused:
        qx480.parse_time(text, "width")
    assert str(refused.value) == f"width '{text}' {NOT_A_TIME}"


@pytest.mark.parametrize(
    "text", ["10xs", "10ns ", "10sec", "10 u s", "1,5ns", "10Hz", "0x10", "5٣", "1.5ΜS", "2MS", "2Ms"]
)
def test_parse_time_refuses_units_it_does_not_know(text: str) -> None:
    with pytest.raises(ValueError) as refused:
        qx480.parse_time(text)
    assert str(refused.value) == f"time '{text}' {UNKNOWN_TIME_UNIT}"


@pytest.mark.parametrize(
    ("text", "meant"), [("10 NS", "ns"), ("10nS", "ns"), ("2mS", "ms"), ("1.5US", "us"), ("1.5µS", "µs"), ("3S", "s")]
)
def test_parse_time_names_the_unit_typed_in_other_case(text: str, meant: str) -> None:
    with pytest.raises(ValueError) as refused:
        qx480.parse_time(text)
    assert str(refused.value) == f"time '{text}' has an unknown unit: did you mean {meant}?"


@pytest.mark.parametrize(
    ("text", "ticks"),
    [
        ("1000", 250000),
        ("1000Hz", 250000),
        ("1kHz", 250000),
        ("2.5MHz", 100),
        ("3MHz", 83),  # the period is cut to whole ticks
        ("250MHz", 1),
        ("0.1Hz", 2500000000),
        ("1e3 Hz", 250000),
    ],
)
def test_parse_rate_gives_whole_four_nanosecond_ticks(text: str, ticks: int) -> None:
    assert qx480.parse_rate(text) == ticks


@pytest.mark.parametrize(
    ("text", "ending"),
    [
        ("0", "is zero: give a rate above 0 Hz"),
        ("0.000kHz", "is zero: give a rate above 0 Hz"),
        ("250.000001MHz", "is above 250 MHz, the fastest the device's 4 ns period steps reach"),
        ("1e999999MHz", "is above 250 MHz, the fastest the device's 4 ns period steps reach"),
        ("0.0582Hz", "is below 0.0582076609 Hz, the slowest the device's period reaches"),
        ("1e-999999Hz", "is below 0.0582076609 Hz, the slowest the device's period reaches"),
        ("-1kHz", "is negative"),
        ("1mHz", "has an unknown unit: use Hz (the default), kHz or MHz"),  # millihertz: no hint of megahertz
        ("1mhz", "has an unknown unit: use Hz (the default), kHz or MHz"),
        ("1MHZ", "has an unknown unit: did you mean MHz?"),
        ("1khz", "has an unknown unit: did you mean kHz?"),
        ("10 HZ", "has an unknown unit: did you mean Hz?"),
        ("1s", "has an unknown unit: use Hz (the default), kHz or MHz"),
        ("fast", "is not a rate: give a number with Hz (the default), kHz or MHz"),
        ("1.2.3kHz", "is not a rate: give a number with Hz (the default), kHz or MHz"),
    ],
)
def test_parse_rate_refuses_what_the_tool_refuses_in_its_words(text: str, ending: str) -> None:
    with pytest.raises(qx480.ArgumentError) as refused:
        qx480.parse_rate(text)
    assert str(refused.value) == f"rate '{text}' {ending}"


@pytest.mark.parametrize(
    ("counts", "text"),
    [
        (0, "0 ns"),
        (1, "10 ps"),
        (99, "990 ps"),
        (100, "1 ns"),
        (101, "1.01 ns"),
        (150000, "1.5 us"),
        (100000000001, "1.00000000001 s"),
        (MAX, "184467440.73709551615 s"),
    ],
)
def test_format_time_prints_as_the_tool_does(counts: int, text: str) -> None:
    assert qx480.format_time(counts) == text


@pytest.mark.parametrize("counts", [0, 1, 99, 100, 12345, 100000, 123456789, 100000000000, 999999999999, MAX])
def test_format_time_reads_back_exactly(counts: int) -> None:
    assert qx480.parse_time(qx480.format_time(counts)) == counts


@pytest.mark.parametrize(
    ("ticks", "text"),
    [
        (250000, "1 kHz (period 250000 x 4 ns)"),
        (83, "3.01204819 MHz (period 83 x 4 ns)"),
        (0, "none (period 0 x 4 ns)"),
        (2**32 - 1, "0.0582076609 Hz (period 4294967295 x 4 ns)"),
    ],
)
def test_rate_text_gives_the_rate_and_the_period(ticks: int, text: str) -> None:
    assert units.rate_text(ticks) == text


@pytest.mark.parametrize(
    ("hz", "ticks"),
    [(1000.0, 250000), (3e6, 83), (250e6, 1), (0.1, 2500000000), (0.06, 4166666666)],
)
def test_hz_to_ticks_cuts_the_period_toward_zero(hz: float, ticks: int) -> None:
    assert units.hz_to_ticks(hz, "rate") == ticks


@pytest.mark.parametrize(
    ("hz", "ending"),
    [
        (float("nan"), "is not a rate"),
        (-1.0, "is negative"),
        (0.0, "is zero"),
        (250.000001e6, "is above 250 MHz"),
        (float("inf"), "is above 250 MHz"),
        (0.0582, "is below 0.0582076609 Hz"),
        (1e-300, "is below 0.0582076609 Hz"),
    ],
)
def test_hz_to_ticks_refuses_rates_the_period_cannot_carry(hz: float, ending: str) -> None:
    with pytest.raises(qx480.ArgumentError) as refused:
        units.hz_to_ticks(hz, "rate x")
    assert str(refused.value).startswith(f"rate x {ending}")
