"""The Tango device server in a control system: a real Tango database, the README's deployment steps, restarts.

The module starts MariaDB and DataBaseds of its own (tango_database.py),
registers each server with the README's deployment lines and starts it by its
instance name, as a facility does; clients find it through TANGO_HOST.

It runs after every other module (conftest.py orders it last): PyTango's test
context forks its servers, and a server forked from a process whose Tango
client has used a database hangs while it starts.
"""

from __future__ import annotations

import os
import queue
import re
import shlex
import signal
import subprocess
import sys
import time
from collections.abc import Callable, Iterator
from pathlib import Path

import pytest

tango = pytest.importorskip("tango")

from conftest import READ_TEMP, Simulator, frame_fields  # noqa: E402
from tango_database import STOP_LIMIT_S, TangoDatabase, free_port, stop  # noqa: E402

README = Path(__file__).resolve().parents[2] / "README.md"
DEPLOYMENT = re.search(r"^### Deployment with a Tango database\n.*?^```sh\n(.*?)^```", README.read_text(), re.M | re.S)
LIMIT_S = 10.0
POLL_S = 0.02

SET_TRIGGER = 0x01
SET_CHANNEL = 0x06
SET_GLOBAL_OUTPUT = 0x07
SET_DELAY = 0x08
SOFTWARE_TRIG = 0x14


def wait_until(condition: Callable[[], object], what: str, limit_s: float = LIMIT_S) -> None:
    deadline = time.monotonic() + limit_s
    while not condition():
        assert time.monotonic() < deadline, f"not within {limit_s} s: {what}"
        time.sleep(POLL_S)


@pytest.fixture(scope="module")
def database(tmp_path_factory: pytest.TempPathFactory) -> Iterator[TangoDatabase]:
    """A Tango database for the module; TANGO_HOST names it while the module runs."""
    with TangoDatabase(tmp_path_factory.mktemp("tango-db")) as started:
        before = os.environ.get("TANGO_HOST")
        os.environ["TANGO_HOST"] = started.tango_host
        yield started
        if before is None:
            del os.environ["TANGO_HOST"]
        else:
            os.environ["TANGO_HOST"] = before


class Deployment:
    """One server deployed by the README's lines: `register` runs all but the last, `start` the last."""

    def __init__(self, instance: str, device: str, port: str, folder: Path) -> None:
        assert DEPLOYMENT, "the README has no deployment block"
        lines = DEPLOYMENT.group(1).strip().splitlines()
        assert lines[0] == "instance=lab device=lab/dg/1 port=/dev/ttyUSB0", lines[0]
        self.settings = f"instance={shlex.quote(instance)} device={shlex.quote(device)} port={shlex.quote(port)}"
        self.steps, self.server_line = lines[1:-1], lines[-1]
        self.device = device
        self.folder = folder
        self.server: subprocess.Popen[bytes] | None = None
        self.started_at = 0.0

    def script(self, lines: list[str]) -> list[str]:
        return ["bash", "-euc", "\n".join([self.settings, *lines])]

    def register(self) -> None:
        done = subprocess.run(self.script(self.steps), capture_output=True, text=True, check=False)
        assert done.returncode == 0, done.stderr

    def start(self) -> tango.DeviceProxy:
        """Starts the server (the console script of the installed package) and returns a proxy once it runs."""
        assert self.server is None
        path = os.pathsep.join([str(Path(sys.executable).parent), os.environ["PATH"]])
        log = open(self.folder / f"{self.device.replace('/', '-')}.log", "ab")
        self.started_at = time.monotonic()
        self.server = subprocess.Popen(
            self.script([self.server_line]), env=dict(os.environ, PATH=path), stdout=log, stderr=log,
            start_new_session=True,
        )
        log.close()
        proxy = tango.DeviceProxy(self.device)
        wait_until(lambda: self._answers(proxy), f"{self.device} is exported")
        return proxy

    def _answers(self, proxy: tango.DeviceProxy) -> bool:
        assert self.server is not None and self.server.poll() is None, f"the server ended: {self.log()}"
        try:
            proxy.ping()
        except tango.DevFailed:
            return False
        return True

    def stop(self) -> None:
        """Ends the server as an operator does (SIGTERM), so that it leaves the database as a server should."""
        if self.server is None:
            return
        os.killpg(self.server.pid, signal.SIGTERM)
        try:
            self.server.wait(STOP_LIMIT_S)
        except subprocess.TimeoutExpired:
            os.killpg(self.server.pid, signal.SIGKILL)
            self.server.wait()
        self.server = None

    def log(self) -> str:
        return (self.folder / f"{self.device.replace('/', '-')}.log").read_text(errors="replace")[-3000:]


@pytest.fixture
def deploy(
    database: TangoDatabase, tmp_path: Path, request: pytest.FixtureRequest
) -> Iterator[Callable[..., Deployment]]:
    """Registers a server of the test's own on a port; stops every server it started at the end."""
    made: list[Deployment] = []

    def make(port: str, *extra_steps: str) -> Deployment:
        name = re.sub(r"[^a-z0-9]", "", request.node.name.lower())[-24:] + str(len(made))
        deployment = Deployment(name, f"test/{name}/1", port, tmp_path)
        deployment.register()
        for step in extra_steps:
            done = subprocess.run(deployment.script([step]), capture_output=True, text=True, check=False)
            assert done.returncode == 0, done.stderr
        made.append(deployment)
        return deployment

    yield make
    for deployment in made:
        deployment.stop()


def settings_sent(sim: Simulator, count: int) -> list[tuple[int, int, bytes]]:
    """The requests the device received, once there are `count` that are not the poll's READ_TEMP."""
    wait_until(lambda: len(settings_of(sim)) >= count, f"{count} requests reach the device")
    return settings_of(sim)


def settings_of(sim: Simulator) -> list[tuple[int, int, bytes]]:
    return [f for f in map(frame_fields, sim.trace.frames("rx")) if f[0] != READ_TEMP]


def channel(n: int, on: bool) -> tuple[int, int, bytes]:
    return (SET_CHANNEL, n << 8 | on, b"")


OUTPUTS = [True, False, True, True, False, True, False, True]


def test_memorized_settings_come_back_after_a_restart_and_reach_the_device(
    start_sim: Callable[..., Simulator], deploy: Callable[..., Deployment]
) -> None:
    sim = start_sim()
    server = deploy(sim.link)
    dg = server.start()
    assert dg.state() == tango.DevState.ON
    for n, on in enumerate(OUTPUTS, 1):
        dg.write_attribute(f"Output{n}", on)
    dg.write_attribute("TriggerSource", 2)
    dg.write_attribute("GlobalOutput", True)
    with pytest.raises(tango.DevFailed) as refused:
        dg.write_attribute("TriggerSource", 7)  # no such label: refused, not memorized
    assert refused.value.args[0].reason == "API_WAttrOutsideLimit"
    written = len(settings_sent(sim, 10))

    server.stop()
    dg = server.start()
    wait_until(lambda: len(settings_of(sim)) >= written + 10, "the memorized settings reach the device")
    print(f"\nstart to ON with eight memorized outputs sent: {time.monotonic() - server.started_at:.3f} s")
    assert dg.state() == tango.DevState.ON
    assert settings_of(sim)[written:] == [
        *(channel(n, on) for n, on in enumerate(OUTPUTS, 1)),
        (SET_TRIGGER, 3, b""),
        (SET_GLOBAL_OUTPUT, 1, b""),
    ], "the outputs and the trigger first, the global output on last"
    assert [dg.read_attribute(f"Output{n}").value for n in range(1, 9)] == OUTPUTS
    assert dg.read_attribute("TriggerSource").value == 2
    assert dg.read_attribute("GlobalOutput").value is True


def test_a_write_that_failed_is_not_memorized_and_the_global_output_goes_off_first(
    start_sim: Callable[..., Simulator], deploy: Callable[..., Deployment]
) -> None:
    sim = start_sim("--drop-every", "3")
    server = deploy(sim.link, "tango_admin --add-property $device polled_attr temperature,0")
    dg = server.start()
    dg.write_attribute("Output5", True)
    dg.write_attribute("GlobalOutput", False)
    with pytest.raises(tango.DevFailed) as failed:
        dg.write_attribute("Output5", False)  # the third request gets no answer
    assert failed.value.args[0].reason == "QX480_ERR_NO_ANSWER"
    server.stop()
    dg = server.start()
    assert settings_sent(sim, 5)[3:] == [(SET_GLOBAL_OUTPUT, 0, b""), channel(5, True)]
    assert dg.read_attribute("Output5").value is True


def test_limits_in_the_database_refuse_a_write_before_anything_is_sent(
    start_sim: Callable[..., Simulator], deploy: Callable[..., Deployment]
) -> None:
    sim = start_sim()
    dg = deploy(sim.link).start()
    config = dg.get_attribute_config("Delay1")
    config.min_value, config.max_value = "0", "1e-6"
    dg.set_attribute_config(config)
    with pytest.raises(tango.DevFailed) as refused:
        dg.write_attribute("Delay1", 2e-6)
    assert refused.value.args[0].reason == "API_WAttrOutsideLimit"
    dg.write_attribute("Delay1", 5e-7)
    assert settings_sent(sim, 1) == [(SET_DELAY, 1, (50000).to_bytes(8, "little"))]
    stored = tango.Database().get_device_attribute_property(dg.name(), ["Delay1"])["Delay1"]
    assert float(stored["max_value"][0]) == 1e-6


def test_the_temperature_is_polled_and_pushes_change_events(
    start_sim: Callable[..., Simulator], deploy: Callable[..., Deployment]
) -> None:
    sim = start_sim("--temp-step", "0.5")
    dg = deploy(sim.link, "tango_admin --add-property $device polled_attr temperature,100").start()
    assert dg.get_attribute_poll_period("Temperature") == 100, "the period in the database holds"
    assert dg.get_attribute_config("Temperature").events.ch_event.abs_change == "0.1"
    events: queue.Queue[tuple[float, object]] = queue.Queue()

    def received(event: tango.EventData) -> None:
        events.put((time.monotonic(), None if event.err else event.attr_value.value))

    subscription = dg.subscribe_event("Temperature", tango.EventType.CHANGE_EVENT, received)
    try:
        assert events.get(timeout=LIMIT_S)[1] == 29.59375  # the value when subscribing
        changed_at = time.monotonic()
        sim.process.send_signal(signal.SIGUSR1)
        arrived_at, value = events.get(timeout=LIMIT_S)
        delay_ms = 1000 * (arrived_at - changed_at)
        print(f"\nchange event {delay_ms:.0f} ms after the temperature changed (polled every 100 ms)")
        assert value == 30.09375
    finally:
        dg.unsubscribe_event(subscription)


def test_a_write_pushes_a_change_event_without_polling(
    start_sim: Callable[..., Simulator], deploy: Callable[..., Deployment]
) -> None:
    sim = start_sim()
    dg = deploy(sim.link).start()
    events: dict[str, queue.Queue[object]] = {"Delay2": queue.Queue(), "TriggerRate": queue.Queue()}
    subscriptions = [
        dg.subscribe_event(name, tango.EventType.CHANGE_EVENT, lambda e, to=to: to.put(e.attr_value.value))
        for name, to in events.items()
    ]
    try:
        assert events["Delay2"].get(timeout=LIMIT_S) == 0.0  # the values when subscribing
        assert events["TriggerRate"].get(timeout=LIMIT_S) == 1000.0
        dg.write_attribute("Delay2", 1.5e-6)
        dg.write_attribute("TriggerRate", 3e6)
        assert events["Delay2"].get(timeout=LIMIT_S) == 1.5e-6
        assert events["TriggerRate"].get(timeout=LIMIT_S) == pytest.approx(1e9 / (83 * 4)), "the rate the period gives"
        assert not any(dg.is_attribute_polled(name) for name in events)
    finally:
        for subscription in subscriptions:
            dg.unsubscribe_event(subscription)


def test_a_server_without_its_device_is_a_fault_and_comes_back_by_itself(
    start_sim: Callable[..., Simulator], deploy: Callable[..., Deployment], tmp_path: Path
) -> None:
    link = str(tmp_path / "dg-later")
    server = deploy(link)
    tango.Database().put_device_attribute_property(server.device, {"Output3": {"__value": ["true"]}})
    dg = server.start()
    assert dg.state() == tango.DevState.FAULT
    assert link in dg.status()
    sim = start_sim(link=link)
    wait_until(lambda: dg.state() == tango.DevState.ON, "ON once the device is there")
    assert settings_sent(sim, 1) == [channel(3, True)]

    moved = start_sim()
    subprocess.run(["tango_admin", "--add-property", server.device, "Port", moved.link], check=True)
    dg.Init()
    dg.Fire()
    assert dg.state() == tango.DevState.ON
    assert settings_sent(moved, 2) == [channel(3, True), (SOFTWARE_TRIG, 0, b"")]
    assert settings_of(sim) == [channel(3, True)], "nothing more went to the old port"


class Ser2net:
    """ser2net in front of a serial device: raw TCP on a loopback port, which stays the same across restarts."""

    def __init__(self, device: str, folder: Path) -> None:
        self.port = free_port()
        self.config = folder / "ser2net.yaml"
        self.config.write_text(
            f"connection: &dg\n  accepter: tcp,127.0.0.1,{self.port}\n  connector: serialdev,{device},115200n81,local\n"
        )
        self.log = folder / "ser2net.log"
        self.process: subprocess.Popen[bytes] | None = None

    @property
    def url(self) -> str:
        return f"socket://127.0.0.1:{self.port}"

    def start(self) -> None:
        with open(self.log, "ab") as log:
            self.process = subprocess.Popen(["ser2net", "-n", "-d", "-c", str(self.config)], stdout=log, stderr=log)
        # A probing connect would make ser2net open the device: read the kernel's table of listening sockets.
        wait_until(self._listens, f"ser2net listens on {self.port}: {self.log.read_text(errors='replace')}")

    def _listens(self) -> bool:
        assert self.process is not None and self.process.poll() is None, self.log.read_text(errors="replace")
        listening = f"0100007F:{self.port:04X} 00000000:0000 0A"
        return any(listening in line for line in Path("/proc/net/tcp").read_text().splitlines())

    def stop(self) -> None:
        if self.process is not None:
            stop(self.process)
            self.process = None


@pytest.fixture
def ser2net(tmp_path: Path) -> Iterator[Callable[[str], Ser2net]]:
    """Starts ser2net on a device; stops it at the end."""
    started: list[Ser2net] = []

    def start(device: str) -> Ser2net:
        started.append(Ser2net(device, tmp_path))
        started[-1].start()
        return started[-1]

    yield start
    for server in started:
        server.stop()


def test_a_device_behind_ser2net_comes_back_by_itself_when_ser2net_restarts(
    start_sim: Callable[..., Simulator], deploy: Callable[..., Deployment], ser2net: Callable[[str], Ser2net]
) -> None:
    sim = start_sim()
    terminal_server = ser2net(sim.tty)
    server = deploy(terminal_server.url, "tango_admin --add-property $device polled_attr temperature,200")
    dg = server.start()
    assert dg.state() == tango.DevState.ON
    dg.write_attribute("Output6", True)

    terminal_server.stop()
    wait_until(lambda: dg.state() == tango.DevState.FAULT, "FAULT once the terminal server is gone")
    assert terminal_server.url.removeprefix("socket://") in dg.status()
    back_at = time.monotonic()
    terminal_server.start()
    wait_until(lambda: dg.state() == tango.DevState.ON, "ON once the terminal server is back")
    print(f"\nON {time.monotonic() - back_at:.3f} s after ser2net started again (polled every 200 ms)")
    assert settings_sent(sim, 2) == [channel(6, True)] * 2, "the memorized output went to the device again"
