"""Times at their edges, in every form: what reaches the device, and what is refused with nothing sent."""

from __future__ import annotations

import math
from collections.abc import Callable, Iterator
from decimal import Decimal
from fractions import Fraction

import pytest
from conftest import READ_TEMP, Simulator, frame

import qx480

LONGEST = 2**64 - 1
# The largest float the C library takes: its product with 1e11 lies below 2^64.
LARGEST_FLOAT = math.nextafter(2.0**64 / 1e11, math.inf)
while LARGEST_FLOAT * 1e11 >= 2.0**64:
    LARGEST_FLOAT = math.nextafter(LARGEST_FLOAT, 0.0)


@pytest.fixture
def roomy(start_sim: Callable[..., Simulator]) -> Iterator[tuple[qx480.Device, Simulator]]:
    """A device that takes every time the wire field carries."""
    sim = start_sim("--max-delay", str(LONGEST), "--max-width", str(LONGEST))
    with qx480.Device(sim.link) as dg:
        yield dg, sim


def assert_nothing_sent(dg: qx480.Device, sim: Simulator, sent_before: int) -> None:
    """The next request the device receives is the temperature query this sends."""
    dg.read_temperature()
    assert sim.received(sent_before + 1)[sent_before:] == [frame(READ_TEMP)]


@pytest.mark.parametrize(
    ("time", "counts"),
    [
        (0.0, 0),
        (-0.0, 0),
        (1e-11, 1),
        (2e-11, 2),
        (12.34e-9, 1234),
        (1e-9 / 3 * 3, 100),
        (0.1 + 0.2, 30000000000),  # 0.30000000000000004 s lies within a thousandth of a step
        ("10ps", 1),
        ("0.01ns", 1),
        ("12.34 ns", 1234),
        ("184467440.73709551615s", LONGEST),
        (Decimal("1E-11"), 1),
        (Decimal("12.34E-9"), 1234),
        (Decimal("184467440.73709551615"), LONGEST),
        (Fraction(1, 10**11), 1),
        (Fraction(1234, 10**11), 1234),
        (Fraction(LONGEST, 10**11), LONGEST),
        (0, 0),
        (184467440, 184467440 * 10**11),
    ],
)
def test_a_time_reaches_the_device_as_its_whole_step(
    roomy: tuple[qx480.Device, Simulator], time: qx480.Time, counts: int
) -> None:
    dg, _ = roomy
    dg.set_delay(4, time)
    dg.set_width(4, time)
    c = dg.read_timing().channels[3]
    assert (c.delay_counts, c.width_counts) == (counts, counts)


def test_the_largest_float_reaches_the_device_within_its_own_rounding(roomy: tuple[qx480.Device, Simulator]) -> None:
    dg, _ = roomy
    dg.set_delay(1, LARGEST_FLOAT)
    counts = dg.read_timing().channels[0].delay_counts
    # Past 2^53 steps a double's product with 1e11 is off the exact value by up to half its spacing there.
    assert abs(counts - Fraction(LARGEST_FLOAT) * 10**11) <= 2048
    assert counts <= LONGEST


REFUSED = [
    (5e-12, "delay 5e-12 s is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"),
    (12.345e-9, "delay 1.2345e-08 s is not a whole number of 10 ps steps: the nearest are 12.34ns and 12.35ns"),
    (1.5e-11, "delay 1.5e-11 s is not a whole number of 10 ps steps: the nearest are 10ps and 20ps"),
    (math.nextafter(LARGEST_FLOAT, math.inf),
     "delay 184467440.73709553 s is beyond the longest time the device takes, 184467440.73709551615 s"),
    (-1e-9, "delay -1e-09 s is negative"),
    (math.nan, "delay nan s is not a time: give a finite number of seconds"),
    (math.inf, "delay inf s is not a time: give a finite number of seconds"),
    ("5ps", "delay '5ps' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"),
    ("12.345ns", "delay '12.345ns' is not a whole number of 10 ps steps: the nearest are 12.34ns and 12.35ns"),
    ("184467440737095516.16ns",
     "delay '184467440737095516.16ns' is beyond the longest time the device takes, 184467440.73709551615 s"),
    ("-5ns", "delay '-5ns' is negative"),
    ("10 NS", "delay '10 NS' has an unknown unit: did you mean ns?"),
    ("10 xs", "delay '10 xs' has an unknown unit: use ps, ns (the default), us, ms or s"),
    (Decimal("5E-12"), "delay 5E-12 s is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"),
    (Decimal("12.345E-9"), "delay 1.2345E-8 s is not a whole number of 10 ps steps: the nearest are 12.34ns and 12.35ns"),
    (Decimal("184467440.73709551616"),
     "delay 184467440.73709551616 s is beyond the longest time the device takes, 184467440.73709551615 s"),
    (Decimal("-1E-9"), "delay -1E-9 s is negative"),
    (Decimal("NaN"), "delay NaN s is not a time: give a finite number of seconds"),
    (Fraction(1, 2 * 10**11), "delay 1/200000000000 s is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"),
    (Fraction(1, 3), "delay 1/3 s is not a whole number of 10 ps steps: the nearest are 333.33333333ms and 333.33333334ms"),
    (Fraction(LONGEST + 1, 10**11),
     f"delay {Fraction(LONGEST + 1, 10**11)} s is beyond the longest time the device takes, 184467440.73709551615 s"),
    (184467441, "delay 184467441 s is beyond the longest time the device takes, 184467440.73709551615 s"),
    (-1, "delay -1 s is negative"),
]


@pytest.mark.parametrize(("time", "message"), REFUSED)
def test_a_time_off_the_steps_or_the_field_is_refused_before_anything_is_sent(
    roomy: tuple[qx480.Device, Simulator], time: qx480.Time, message: str
) -> None:
    dg, sim = roomy
    with pytest.raises(qx480.ArgumentError) as refused:
        dg.set_delay(2, time)
    assert str(refused.value) == message
    assert refused.value.status == qx480.Status.ARGUMENT
    assert refused.value.status_name == "QX480_ERR_ARGUMENT"
    with pytest.raises(ValueError, match="^width"):
        dg.set_width(2, time)
    assert_nothing_sent(dg, sim, 0)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda dg: dg.set_delay(9, 1e-9), "channel 9 is outside 1 to 8"),
        (lambda dg: dg.set_width(0, "1ns"), "channel 0 is outside 1 to 8"),
        (lambda dg: dg.set_channel_output(-1, True), "channel -1 is outside 1 to 8"),
        (lambda dg: dg.set_delay_counts(1, 2**64), "delay count 18446744073709551616 is outside 0 to 18446744073709551615"),
        (lambda dg: dg.set_width_counts(1, -1), "width count -1 is outside 0 to 18446744073709551615"),
        (lambda dg: dg.set_trigger_ticks(0), "ticks 0 is outside 1 to 4294967295"),
        (lambda dg: dg.set_trigger_ticks(2**32), "ticks 4294967296 is outside 1 to 4294967295"),
        (lambda dg: dg.set_trigger_rate(0), "rate 0 Hz is zero: give a rate above 0 Hz"),
        (lambda dg: dg.set_trigger_rate(-5.0), "rate -5.0 Hz is negative"),
        (lambda dg: dg.set_trigger_rate(1e9),
         "rate 1000000000.0 Hz is above 250 MHz, the fastest the device's 4 ns period steps reach"),
        (lambda dg: dg.set_trigger_rate(10**400),
         f"rate {10**400} Hz is above 250 MHz, the fastest the device's 4 ns period steps reach"),
        (lambda dg: dg.set_trigger_rate(0.05),
         "rate 0.05 Hz is below 0.0582076609 Hz, the slowest the device's period reaches"),
        (lambda dg: dg.set_trigger_rate(math.nan),
         "rate nan Hz is not a rate: give a number with Hz (the default), kHz or MHz"),
        (lambda dg: dg.set_trigger_rate("250.000001MHz"),
         "rate '250.000001MHz' is above 250 MHz, the fastest the device's 4 ns period steps reach"),
        (lambda dg: dg.set_trigger_rate("1mHz"), "rate '1mHz' has an unknown unit: use Hz (the default), kHz or MHz"),
        (lambda dg: dg.set_trigger_source("now"), "trigger takes internal, external or software, not 'now'"),
        (lambda dg: dg.set_trigger_source("Internal"),
         "trigger takes internal, external or software, not 'Internal': did you mean internal?"),
        (lambda dg: dg.set_trigger_rate("1KHZ"), "rate '1KHZ' has an unknown unit: did you mean kHz?"),
    ],
)
def test_an_argument_out_of_range_is_refused_before_anything_is_sent(
    device: qx480.Device, sim: Simulator, call: Callable[[qx480.Device], object], message: str
) -> None:
    sent: list[bytes] = []
    device.set_trace(lambda _direction, data: sent.append(data))
    with pytest.raises(qx480.ArgumentError) as refused:
        call(device)
    assert str(refused.value) == message
    assert sent == []
    assert_nothing_sent(device, sim, 0)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda dg: dg.set_delay(1, [1]), "delay must be seconds as a float, an int, a Decimal or a Fraction, "
                                          "or a str such as '10ns', not [1]"),
        (lambda dg: dg.set_width(1, None), "width must be seconds as a float, an int, a Decimal or a Fraction, "
                                           "or a str such as '10ns', not None"),
        (lambda dg: dg.set_delay(1, True), "delay must be seconds as a float, an int, a Decimal or a Fraction, "
                                           "or a str such as '10ns', not True"),
        (lambda dg: dg.set_delay("1", 1e-9), "channel must be a whole number from 1 to 8, not '1'"),
        (lambda dg: dg.set_delay(1.0, 1e-9), "channel must be a whole number from 1 to 8, not 1.0"),
        (lambda dg: dg.set_channel_output(True, True), "channel must be a whole number from 1 to 8, not True"),
        (lambda dg: dg.set_channel_output(1, "off"), "on must be True or False, not 'off'"),
        (lambda dg: dg.set_output(1), "on must be True or False, not 1"),
        (lambda dg: dg.set_delay_counts(1, 1.0), "delay count must be a whole number from 0 to 18446744073709551615, "
                                                 "not 1.0"),
        (lambda dg: dg.set_trigger_rate(None), "rate must be hertz as a number or a str such as '1kHz', not None"),
        (lambda dg: dg.set_trigger_rate(True), "rate must be hertz as a number or a str such as '1kHz', not True"),
        (lambda dg: dg.set_trigger_source(1), "source must be a TriggerSource or its name, not 1"),
        (lambda dg: dg.set_trace(42), "callback must be callable or None, not 42"),
    ],
)
def test_an_argument_of_the_wrong_kind_is_a_type_error_before_anything_is_sent(
    device: qx480.Device, sim: Simulator, call: Callable[[qx480.Device], object], message: str
) -> None:
    with pytest.raises(TypeError) as refused:
        call(device)
    assert str(refused.value) == message
    assert_nothing_sent(device, sim, 0)
