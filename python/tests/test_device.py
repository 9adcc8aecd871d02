"""Every method of Device against a simulated device, its effect read back from the device."""

from __future__ import annotations

import pathlib
from collections.abc import Callable
from decimal import Decimal
from fractions import Fraction

import pytest
from conftest import READ_TEMP, READ_TIMING, Simulator, frame, frame_fields

import qx480

SET_TRIGGER = 0x01
SET_CHANNEL = 0x06
SET_GLOBAL_OUTPUT = 0x07
SOFTWARE_TRIG = 0x14
ACCEPTED = 1


def test_the_readme_example_sets_the_device_as_it_says(sim: Simulator) -> None:
    with qx480.Device(sim.link, baud=115200) as dg:
        dg.set_delay(1, 10e-9)
        dg.set_width(1, "100ns")
        dg.set_channel_output(1, True)
        dg.set_output(True)
        dg.set_trigger_source("internal")
        hz = dg.set_trigger_rate("1kHz")
        dg.fire()
        celsius = dg.read_temperature()
        t = dg.read_timing()
    assert hz == 1000.0
    assert celsius == 29.59375
    assert (t.trigger_hz, t.trigger_ticks) == (1000.0, 250000)
    assert (t.channels[0].delay_counts, t.channels[0].width_counts) == (1000, 10000)
    assert (t.channels[0].delay, t.channels[0].width) == (1e-8, 1e-7)


@pytest.mark.parametrize(
    "time",
    [2.5e-6, "2.5us", "2.5 µs", "2500", "2.5e3ns", Decimal("0.0000025"), Fraction(1, 400000), 0.0000025],
)
def test_every_form_of_a_time_reaches_the_device_as_the_same_count(device: qx480.Device, time: qx480.Time) -> None:
    device.set_delay(3, time)
    device.set_width(6, time)
    t = device.read_timing()
    assert t.channels[2].delay_counts == 250000
    assert t.channels[5].width_counts == 250000
    assert t.channels[2].delay == t.channels[5].width == 2.5e-6


def test_each_channel_keeps_its_own_delay_and_width(device: qx480.Device) -> None:
    for channel in qx480.CHANNELS:
        device.set_delay_counts(channel, channel * 100)
        device.set_width_counts(channel, channel * 1000 + 1)
    t = device.read_timing()
    assert [c.delay_counts for c in t.channels] == [n * 100 for n in qx480.CHANNELS]
    assert [c.width_counts for c in t.channels] == [n * 1000 + 1 for n in qx480.CHANNELS]
    # Seconds as the double nearest to the exact time.
    assert [c.delay for c in t.channels] == [float(Fraction(n, 10**9)) for n in qx480.CHANNELS]


def test_the_count_setters_reach_the_whole_wire_field(start_sim: Callable[..., Simulator]) -> None:
    longest = 2**64 - 1
    sim = start_sim("--max-delay", str(longest), "--max-width", str(longest))
    with qx480.Device(sim.link) as dg:
        dg.set_delay_counts(8, longest)
        dg.set_width_counts(8, 0)
        t = dg.read_timing()
    assert (t.channels[7].delay_counts, t.channels[7].width_counts) == (longest, 0)
    assert t.channels[7].delay == longest / 1e11


def test_read_timing_passes_the_device_fields_on(start_sim: Callable[..., Simulator]) -> None:
    time140 = [11, 22, 33, 44, 55, 66, 77, 2**64 - 1]
    sim = start_sim(
        "--word128", "65535", "--byte130", "130", "--byte131", "131", "--byte136", "136", "--byte137", "137",
        "--word138", "1380", "--float276", "-2.75", "--time140", ",".join(map(str, time140)), "--time204", "5",
    )
    with qx480.Device(sim.link) as dg:
        t = dg.read_timing()
    assert (t.word128, t.byte130, t.byte131, t.byte136, t.byte137, t.word138) == (65535, 130, 131, 136, 137, 1380)
    assert t.float276 == -2.75
    assert [c.time140_counts for c in t.channels] == time140
    assert [c.time140 for c in t.channels] == [n / 1e11 for n in time140]
    assert [(c.time204_counts, c.time204) for c in t.channels] == [(5, 5e-11)] * 8
    assert len(sim.received(1)) == 1 and frame_fields(sim.received(1)[0])[0] == READ_TIMING


def test_read_temperature_gives_what_the_device_reports(start_sim: Callable[..., Simulator]) -> None:
    sim = start_sim("--temp", "-12.125")
    with qx480.Device(sim.link) as dg:
        assert dg.read_temperature() == -12.125
    assert sim.received(1) == [frame(READ_TEMP)]


@pytest.mark.parametrize(("channel", "on"), [(1, True), (8, False), (5, True)])
def test_set_channel_output_switches_that_channel(sim: Simulator, channel: int, on: bool) -> None:
    with qx480.Device(sim.link) as dg:
        dg.set_channel_output(channel, on)
    # The on/off byte travels before the channel byte.
    assert sim.received(1) == [frame(SET_CHANNEL, channel * 256 + on)]
    assert frame_fields(sim.sent(1)[0])[:2] == (SET_CHANNEL, ACCEPTED)


def test_set_output_switches_the_global_output(device: qx480.Device, sim: Simulator) -> None:
    device.set_output(True)
    device.set_output(False)
    assert sim.received(2) == [frame(SET_GLOBAL_OUTPUT, 1), frame(SET_GLOBAL_OUTPUT, 0)]
    assert [frame_fields(f)[1] for f in sim.sent(2)] == [ACCEPTED, ACCEPTED]


def test_set_trigger_source_takes_each_source_and_its_name(device: qx480.Device, sim: Simulator) -> None:
    for source in qx480.TriggerSource:
        device.set_trigger_source(source)
        device.set_trigger_source(source.name.lower())
    expected = [frame(SET_TRIGGER, source.value + 1) for source in qx480.TriggerSource for _ in range(2)]
    assert sim.received(6) == expected
    assert [frame_fields(f)[1] for f in sim.sent(6)] == [ACCEPTED] * 6


def test_fire_sends_one_software_trigger(device: qx480.Device, sim: Simulator) -> None:
    device.fire()
    assert sim.received(1) == [frame(SOFTWARE_TRIG)]
    assert frame_fields(sim.sent(1)[0])[:2] == (SOFTWARE_TRIG, ACCEPTED)


def test_a_device_behind_a_socket_url_is_reached(start_sim: Callable[..., Simulator]) -> None:
    sim = start_sim(listen=True)
    assert sim.link.startswith("socket://127.0.0.1:")
    with qx480.Device(sim.link) as dg:
        dg.fire()
    assert sim.received(1) == [frame(SOFTWARE_TRIG)]


def test_a_refused_connection_is_its_own_error_naming_the_port(start_sim: Callable[..., Simulator]) -> None:
    sim = start_sim(listen=True)
    sim.stop()
    with pytest.raises(qx480.RefusedConnectionError, match=sim.link):
        qx480.Device(sim.link)


@pytest.mark.parametrize(
    ("rate", "ticks"),
    [("1kHz", 250000), (1000.0, 250000), (1000, 250000), ("3MHz", 83), (3e6, 83), (Decimal("2.5e6"), 100),
     (Fraction(1, 10), 2500000000), (0.06, 4166666666), (250e6, 1), ("250MHz", 1)],
)
def test_set_trigger_rate_returns_the_rate_the_period_gives(
    start_sim: Callable[..., Simulator], rate: qx480.Rate, ticks: int
) -> None:
    sim = start_sim("--min-period", "1")
    with qx480.Device(sim.link) as dg:
        hz = dg.set_trigger_rate(rate)
        t = dg.read_timing()
    assert t.trigger_ticks == ticks
    assert hz == t.trigger_hz == 1e9 / (ticks * 4)


@pytest.mark.parametrize("ticks", [25, 12345, 2**32 - 1])
def test_set_trigger_ticks_sets_the_period_exactly(device: qx480.Device, ticks: int) -> None:
    assert device.set_trigger_ticks(ticks) == 1e9 / (ticks * 4)
    t = device.read_timing()
    assert (t.trigger_ticks, t.trigger_hz) == (ticks, 1e9 / (ticks * 4))


def test_a_late_answer_to_another_command_is_passed_over(start_sim: Callable[..., Simulator]) -> None:
    sim = start_sim("--foreign-frames", "3")
    with qx480.Device(sim.link) as dg:
        dg.set_delay(2, "7ns")
        assert dg.read_temperature() == 29.59375
        assert dg.read_timing().channels[1].delay_counts == 700


def test_set_trace_shows_each_frame_of_a_call(start_sim: Callable[..., Simulator]) -> None:
    sim = start_sim("--foreign-frames", "1")
    seen: list[tuple[qx480.TraceDirection, bytes]] = []
    with qx480.Device(sim.link) as dg:
        dg.set_trace(lambda direction, data: seen.append((direction, data)))
        dg.read_temperature()
        dg.set_trace(None)
        dg.read_temperature()
    directions = [direction for direction, _ in seen]
    assert directions == [qx480.TraceDirection.SENT, qx480.TraceDirection.DROPPED, qx480.TraceDirection.RECEIVED]
    assert seen[0][1] == frame(READ_TEMP)
    assert seen[2][1] == sim.sent(2)[0]


def test_a_trace_callback_that_raises_does_not_stop_the_call(
    device: qx480.Device, monkeypatch: pytest.MonkeyPatch
) -> None:
    reported: list[BaseException | None] = []
    monkeypatch.setattr("sys.unraisablehook", lambda report: reported.append(report.exc_value))

    def fail(_direction: qx480.TraceDirection, _data: bytes) -> None:
        raise KeyError("from the callback")

    device.set_trace(fail)
    assert device.read_temperature() == 29.59375
    assert [type(e) for e in reported] == [KeyError, KeyError]


def test_a_trace_callback_cannot_use_its_own_device(device: qx480.Device, monkeypatch: pytest.MonkeyPatch) -> None:
    reported: list[BaseException | None] = []
    monkeypatch.setattr("sys.unraisablehook", lambda report: reported.append(report.exc_value))
    device.set_trace(lambda _direction, _data: device.read_temperature())
    assert device.read_temperature() == 29.59375
    device.set_trace(lambda _direction, _data: device.close())
    device.fire()
    assert [type(e) for e in reported] == [RuntimeError] * 4
    assert not device.closed


def test_a_call_that_succeeds_builds_no_message(device: qx480.Device, monkeypatch: pytest.MonkeyPatch) -> None:
    def refuse(*_: object) -> str:
        raise AssertionError("a message was built for a call that succeeded")

    monkeypatch.setattr(qx480.units, "format_time", refuse)
    monkeypatch.setattr(qx480._library, "failure_line", refuse)
    device.set_delay_counts(1, 1000)
    device.set_width(2, 100e-9)
    device.set_channel_output(3, True)
    device.set_output(False)
    assert device.read_temperature() == pytest.approx(29.59375)


def test_the_device_names_its_port_and_state(sim: Simulator) -> None:
    dg = qx480.Device(sim.link, baud=9600)
    assert (dg.port, dg.baud, dg.closed) == (sim.link, 9600, False)
    assert repr(dg) == f"<qx480.Device {sim.link} at 9600 baud, open>"
    dg.close()
    dg.close()
    assert dg.closed
    assert repr(dg) == f"<qx480.Device {sim.link} at 9600 baud, closed>"


def test_a_path_object_names_the_port(sim: Simulator) -> None:
    with qx480.Device(pathlib.Path(sim.link)) as dg:
        assert dg.port == sim.link
        assert dg.read_temperature() == 29.59375
