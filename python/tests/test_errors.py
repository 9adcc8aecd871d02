"""Each exception class from the fault that causes it, with the port and the step in its message."""

from __future__ import annotations

import os
import pwd
import select
import threading
import tty
from collections.abc import Callable, Iterator
from pathlib import Path

import pytest
from conftest import READ_TEMP, Simulator, frame

import qx480
from qx480 import _library

NO_ANSWER_TAIL = "is the device on, on this port, at this baud rate?"


def raised(call: Callable[[], object]) -> qx480.Error:
    with pytest.raises(qx480.Error) as failure:
        call()
    return failure.value


def test_a_width_past_the_device_limit_is_refused_and_not_applied(device: qx480.Device, sim: Simulator) -> None:
    device.set_width(1, "10s")
    error = raised(lambda: device.set_width(1, 20.0))
    assert type(error) is qx480.RefusedError
    assert (error.status, error.status_name) == (qx480.Status.REFUSED, "QX480_ERR_REFUSED")
    assert str(error) == f"the device on {sim.link} refused the width 20 s for channel 1"
    assert device.read_timing().channels[0].width_counts == 10**12


def test_a_period_below_the_device_limit_is_refused(device: qx480.Device, sim: Simulator) -> None:
    error = raised(lambda: device.set_trigger_rate("250MHz"))
    assert type(error) is qx480.RefusedError
    assert str(error) == f"the device on {sim.link} refused the rate 250 MHz (period 1 x 4 ns)"
    assert device.read_timing().trigger_ticks == 250000


def test_a_device_that_does_not_answer_raises_no_answer_error(start_sim: Callable[..., Simulator]) -> None:
    sim = start_sim("--drop-every", "1")
    with qx480.Device(sim.link) as dg:
        error = raised(lambda: dg.set_delay(1, 10e-9))
    assert type(error) is qx480.NoAnswerError and isinstance(error, TimeoutError)
    assert (error.status, error.status_name) == (qx480.Status.NO_ANSWER, "QX480_ERR_NO_ANSWER")
    assert str(error) == f"no answer from {sim.link} within 1000 ms to the delay 10 ns for channel 1: {NO_ANSWER_TAIL}"


@pytest.mark.parametrize("fault", [["--corrupt-every", "1"], ["--short-length"]])
def test_a_spoiled_answer_raises_bad_answer_error(start_sim: Callable[..., Simulator], fault: list[str]) -> None:
    sim = start_sim(*fault)
    with qx480.Device(sim.link) as dg:
        command = raised(dg.fire)
        query = raised(dg.read_temperature)
    assert type(command) is type(query) is qx480.BadAnswerError
    assert command.status_name == "QX480_ERR_BAD_ANSWER"
    assert str(command) == f"a corrupted answer from {sim.link} to the software trigger: check the baud rate and the cable"
    assert str(query) == f"a corrupted answer from {sim.link} to the temperature query: check the baud rate and the cable"


def test_a_line_that_hangs_up_raises_port_error(start_sim: Callable[..., Simulator]) -> None:
    sim = start_sim("--hang-up-after", "1")
    with qx480.Device(sim.link) as dg:
        dg.fire()
        # The line closes once the first answer is out; a request may still go out before it does.
        errors = []
        for _ in range(5):
            try:
                dg.fire()
            except qx480.Error as error:
                errors.append(error)
                break
    assert len(errors) == 1
    assert type(errors[0]) is qx480.PortError and isinstance(errors[0], OSError)
    assert str(errors[0]) == f"{sim.link} failed during the software trigger: was it unplugged?"


@pytest.mark.parametrize("mode", ["loopback", "local"])
def test_a_line_that_echoes_raises_echo_error_for_a_query(start_sim: Callable[..., Simulator], mode: str) -> None:
    sim = start_sim("--echo", mode)
    with qx480.Device(sim.link) as dg:
        error = raised(dg.read_temperature)
    assert type(error) is qx480.EchoError
    assert error.status_name == "QX480_ERR_ECHO"
    assert str(error) == f"{sim.link} echoes requests back: a loopback plug or a local echo is in the way"


@pytest.fixture
def short_answer_port() -> Iterator[str]:
    """A device on a pseudo-terminal that answers every request with a frame of its code and only three PA bytes."""
    master, slave = os.openpty()
    tty.setraw(slave)
    stop = threading.Event()

    def answer() -> None:
        while not stop.is_set():
            if select.select([master], [], [], 0.05)[0]:
                request = os.read(master, 10)
                os.write(master, frame(request[4], 1, b"\x01\x02\x03"))

    server = threading.Thread(target=answer)
    server.start()
    yield os.ttyname(slave)
    stop.set()
    server.join()
    os.close(master)
    os.close(slave)


def test_an_answer_too_short_for_the_query_raises_short_answer_error(short_answer_port: str) -> None:
    with qx480.Device(short_answer_port) as dg:
        temperature = raised(dg.read_temperature)
        timing = raised(dg.read_timing)
    assert type(temperature) is type(timing) is qx480.ShortAnswerError
    assert temperature.status_name == "QX480_ERR_SHORT_ANSWER"
    expected = "the answer from {} to the {} query is too short to hold what was asked for"
    assert str(temperature) == expected.format(short_answer_port, "temperature")
    assert str(timing) == expected.format(short_answer_port, "timing")


def test_a_closed_device_raises_not_open_error_and_sends_nothing(sim: Simulator) -> None:
    dg = qx480.Device(sim.link)
    dg.read_temperature()
    dg.close()
    calls: list[Callable[[], object]] = [
        dg.fire, dg.read_temperature, dg.read_timing, lambda: dg.set_delay(1, "1ns"), lambda: dg.set_output(True),
        lambda: dg.set_trace(None),
    ]
    errors = [raised(call) for call in calls]
    assert {type(e) for e in errors} == {qx480.NotOpenError}
    assert errors[0].status_name == "QX480_ERR_NOT_OPEN"
    assert str(errors[3]) == f"{sim.link} is not open for the delay 1 ns for channel 1"
    with qx480.Device(sim.link) as again:
        again.read_temperature()
    assert sim.received(2) == [frame(READ_TEMP)] * 2


def test_a_missing_port_raises_port_not_found_error(tmp_path: Path) -> None:
    missing = str(tmp_path / "ttyUSB9")
    error = raised(lambda: qx480.Device(missing))
    assert type(error) is qx480.PortNotFoundError and isinstance(error, FileNotFoundError)
    assert (error.status, error.status_name) == (qx480.Status.NO_PORT, "QX480_ERR_NO_PORT")
    assert str(error) == f"no such port {missing}"


def test_a_port_open_elsewhere_raises_port_busy_error(device: qx480.Device, sim: Simulator) -> None:
    error = raised(lambda: qx480.Device(sim.link))
    assert type(error) is qx480.PortBusyError and isinstance(error, OSError)
    assert error.status_name == "QX480_ERR_PORT_BUSY"
    assert str(error) == f"{sim.link} is in use by another program"
    assert device.read_temperature() == 29.59375


def test_a_file_that_is_no_terminal_raises_not_serial_error(tmp_path: Path) -> None:
    plain = tmp_path / "plain"
    plain.write_bytes(b"")
    error = raised(lambda: qx480.Device(str(plain)))
    assert type(error) is qx480.NotSerialError and isinstance(error, OSError)
    assert str(error) == f"{plain} is not a serial port"


def _open_as_nobody(port: str) -> str:
    """The name of what opening `port` raises in a child process that runs as the user nobody."""
    reading, writing = os.pipe()
    child = os.fork()
    if child == 0:
        outcome = "nothing"
        try:
            nobody = pwd.getpwnam("nobody")
            os.setgroups([])
            os.setgid(nobody.pw_gid)
            os.setuid(nobody.pw_uid)
            qx480.Device(port).close()
        except BaseException as error:  # reported to the parent, whatever it is
            outcome = f"{type(error).__name__}: {error}"
        finally:
            os.write(writing, outcome.encode())
            os._exit(0)
    os.close(writing)
    with os.fdopen(reading) as pipe:
        outcome = pipe.read()
    os.waitpid(child, 0)
    return outcome


def test_a_port_without_permission_raises_port_permission_error(sim: Simulator) -> None:
    if os.geteuid() == 0:
        outcome = _open_as_nobody(sim.tty)
    else:
        os.chmod(sim.tty, 0)
        try:
            qx480.Device(sim.tty)
            outcome = "nothing"
        except qx480.Error as error:
            outcome = f"{type(error).__name__}: {error}"
    assert outcome == f"PortPermissionError: no permission to open {sim.tty} (is your user in the dialout group?)"


def test_the_error_classes_inherit_what_they_stand_for() -> None:
    assert issubclass(qx480.PortNotFoundError, FileNotFoundError)
    assert issubclass(qx480.PortPermissionError, PermissionError)
    assert issubclass(qx480.NoAnswerError, TimeoutError) and issubclass(qx480.WriteError, TimeoutError)
    assert issubclass(qx480.PortError, OSError) and issubclass(qx480.SettingsError, OSError)
    assert issubclass(qx480.ArgumentError, ValueError)
    assert issubclass(qx480.OutOfMemoryError, MemoryError)


@pytest.mark.parametrize("status", range(-24, 3))
def test_each_status_has_its_class_and_the_c_library_name(status: int) -> None:
    lib = _library.library()
    error = qx480.errors.error_for(status, "message")
    assert error.status_name == lib.qx480_status_name(status).decode()
    assert str(error) == "message" and isinstance(error, qx480.Error)
    if status < 0 and error.status_name != "QX480_UNKNOWN_STATUS":
        assert qx480.ERRORS[status] is type(error) is not qx480.Error
        assert error.status is qx480.Status(status)
        assert qx480.Status(status).name == error.status_name.removeprefix("QX480_ERR_")
    else:
        assert status not in qx480.ERRORS and type(error) is qx480.Error


def test_every_failure_status_of_the_c_interface_has_its_own_class() -> None:
    classes = list(qx480.ERRORS.values())
    assert len(set(classes)) == len(classes) == 21
    assert sorted(qx480.ERRORS) == list(range(-21, 0))
