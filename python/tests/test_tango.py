"""The Tango device server against simulated devices, through PyTango's own test context (no database)."""

from __future__ import annotations

import math
from collections.abc import Callable, Iterator

import pytest

tango = pytest.importorskip("tango")
from tango.test_context import DeviceTestContext  # noqa: E402

from conftest import READ_TEMP, READ_TIMING, Simulator, frame_fields  # noqa: E402
from qx480.tango import QX480DDG  # noqa: E402

SET_TRIGGER = 0x01
SET_TRIG_FREQ = 0x05
SET_CHANNEL = 0x06
SET_GLOBAL_OUTPUT = 0x07
SET_DELAY = 0x08
SET_PULSE_WIDTH = 0x09
SOFTWARE_TRIG = 0x14

Proxy = Callable[[str], "tango.DeviceProxy"]


@pytest.fixture
def server() -> Iterator[Proxy]:
    """Starts the server on a port; stops it at the end."""
    contexts: list[DeviceTestContext] = []

    def start(port: str) -> tango.DeviceProxy:
        # Temperature polled only on demand (period 0), so that each test sees its own requests alone.
        properties = {"Port": port, "polled_attr": ["temperature", "0"]}
        context = DeviceTestContext(QX480DDG, properties=properties, process=True)
        contexts.append(context)
        return context.__enter__()

    yield start
    for context in contexts:
        context.__exit__(None, None, None)


def requests_of(sim: Simulator, count: int) -> list[tuple[int, int, bytes]]:
    return [frame_fields(f) for f in sim.received(count)]


def u64(value: int) -> bytes:
    return value.to_bytes(8, "little")


def test_delays_and_widths_are_written_exactly_and_read_back(start_sim: Callable[..., Simulator], server: Proxy) -> None:
    sim = start_sim()
    dg = server(sim.link)
    assert dg.state() == tango.DevState.ON
    dg.write_attribute("Delay3", 1.5e-6)
    dg.write_attribute("Width8", 250e-9)
    assert requests_of(sim, 2) == [(SET_DELAY, 3, u64(150000)), (SET_PULSE_WIDTH, 8, u64(25000))]
    assert dg.read_attribute("Delay3").value == pytest.approx(1.5e-6, rel=0, abs=1e-15)
    assert dg.read_attribute("Width8").value == pytest.approx(250e-9, rel=0, abs=1e-15)
    assert dg.read_attribute("Delay1").value == 0.0
    config = dg.get_attribute_config("Delay3")
    assert config.unit == "s"


def test_outputs_and_the_trigger_are_sent_and_remembered(start_sim: Callable[..., Simulator], server: Proxy) -> None:
    sim = start_sim()
    dg = server(sim.link)
    assert dg.read_attribute("Output2").value is False
    dg.write_attribute("Output2", True)
    dg.write_attribute("GlobalOutput", True)
    dg.write_attribute("TriggerSource", 2)
    assert requests_of(sim, 3) == [(SET_CHANNEL, 0x0201, b""), (SET_GLOBAL_OUTPUT, 1, b""), (SET_TRIGGER, 3, b"")]
    assert dg.read_attribute("Output2").value is True
    assert dg.read_attribute("GlobalOutput").value is True
    assert dg.read_attribute("TriggerSource").value == 2
    assert list(dg.get_attribute_config("TriggerSource").enum_labels) == ["Internal", "External", "Software"]


def test_the_rate_reads_what_the_device_reports_and_the_temperature_is_read(
    start_sim: Callable[..., Simulator], server: Proxy
) -> None:
    sim = start_sim()
    dg = server(sim.link)
    dg.write_attribute("TriggerRate", 3e6)
    assert requests_of(sim, 1) == [(SET_TRIG_FREQ, 0, (83).to_bytes(4, "little"))]
    assert dg.read_attribute("TriggerRate").value == pytest.approx(1e9 / (83 * 4))
    assert dg.read_attribute("Temperature").value == 29.59375
    assert dg.get_attribute_config("Temperature").unit == "degC"


def test_fire_sends_a_software_trigger(start_sim: Callable[..., Simulator], server: Proxy) -> None:
    sim = start_sim()
    dg = server(sim.link)
    dg.Fire()
    assert requests_of(sim, 1) == [(SOFTWARE_TRIG, 0, b"")]


def test_a_port_that_is_a_socket_url_reaches_the_device(start_sim: Callable[..., Simulator], server: Proxy) -> None:
    sim = start_sim(listen=True)
    dg = server(sim.link)
    dg.Fire()
    assert requests_of(sim, 1) == [(SOFTWARE_TRIG, 0, b"")]


def test_one_request_for_all_timing_attributes_is_one_exchange(
    start_sim: Callable[..., Simulator], server: Proxy
) -> None:
    sim = start_sim()
    dg = server(sim.link)
    names = [f"{kind}{n}" for kind in ("Delay", "Width") for n in range(1, 9)]
    values = dg.read_attributes(names)
    assert [v.value for v in values] == [0.0] * 16
    dg.Fire()  # a marker: everything before it belongs to the read
    codes = [cmd for cmd, _, _ in requests_of(sim, 2)]
    assert codes == [READ_TIMING, SOFTWARE_TRIG]


def test_bad_writes_are_refused_before_anything_is_sent(start_sim: Callable[..., Simulator], server: Proxy) -> None:
    sim = start_sim()
    dg = server(sim.link)
    for name, value in [("Delay1", 5e-12), ("Width2", -1e-9), ("Delay4", 12.345e-9), ("TriggerRate", 0.0)]:
        with pytest.raises(tango.DevFailed) as refused:
            dg.write_attribute(name, value)
        assert refused.value.args[0].reason == "QX480_BadValue", name
    with pytest.raises(tango.DevFailed):
        dg.write_attribute("Delay3", math.inf)  # Tango itself refuses it
    dg.Fire()
    assert [cmd for cmd, _, _ in requests_of(sim, 1)] == [SOFTWARE_TRIG]
    assert dg.state() == tango.DevState.ON


def test_a_failed_write_keeps_the_memorized_value(
    start_sim: Callable[..., Simulator], server: Proxy
) -> None:
    sim = start_sim("--drop-every", "2")
    dg = server(sim.link)
    dg.write_attribute("Output4", True)
    with pytest.raises(tango.DevFailed) as failed:
        dg.write_attribute("Output4", False)  # the second request gets no answer
    assert "no answer from" in failed.value.args[0].desc
    assert dg.state() == tango.DevState.FAULT
    assert "no answer from " + sim.link in dg.status()
    assert dg.read_attribute("Output4").value is True
    with pytest.raises(tango.DevFailed) as refused:
        dg.write_attribute("Width1", 20.0)  # past the device's limit: it says no
    assert refused.value.args[0].reason == "QX480_ERR_REFUSED"
    assert dg.state() == tango.DevState.ON, "a device that says no answers"


def test_a_missing_port_is_a_fault_that_names_it(tmp_path: object, server: Proxy) -> None:
    missing = "/dev/qx480-no-such-port"
    dg = server(missing)
    assert dg.state() == tango.DevState.FAULT
    assert missing in dg.status()
    with pytest.raises(tango.DevFailed):
        dg.read_attribute("Temperature")


def test_a_device_that_hangs_up_is_a_fault_until_it_is_back(
    start_sim: Callable[..., Simulator], server: Proxy
) -> None:
    sim = start_sim("--hang-up-after", "1")
    dg = server(sim.link)
    assert dg.read_attribute("Temperature").value == 29.59375
    sim.process.wait(10)  # the device closed its line and ended
    with pytest.raises(tango.DevFailed):
        dg.read_attribute("Temperature")
    assert dg.state() == tango.DevState.FAULT
    back = start_sim(link=sim.link)
    assert dg.read_attribute("Temperature").value == 29.59375
    assert dg.state() == tango.DevState.ON
    assert [cmd for cmd, _, _ in requests_of(back, 1)] == [READ_TEMP]


def test_init_closes_and_opens_the_port_again(start_sim: Callable[..., Simulator], server: Proxy) -> None:
    sim = start_sim()
    dg = server(sim.link)
    dg.write_attribute("Output1", True)
    dg.Init()
    assert dg.state() == tango.DevState.ON
    dg.Fire()
    # Tango writes the memorized output again when the device starts anew.
    assert requests_of(sim, 3) == [(SET_CHANNEL, 0x0101, b""), (SET_CHANNEL, 0x0101, b""), (SOFTWARE_TRIG, 0, b"")]

