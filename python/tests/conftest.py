"""Simulated devices for the tests: qx480-sim processes on pseudo-terminals, and a frame builder.

The program is the one the environment variable QX480_SIM names
(build/native/bin/qx480-sim); every device runs with --trace, so a test sees
each request as the device received it and each response as it went out.
"""

from __future__ import annotations

import os
import selectors
import subprocess
import threading
from collections.abc import Callable, Iterator
from dataclasses import dataclass, field
from pathlib import Path
from typing import IO

import pytest

import qx480

SIM_VARIABLE = "QX480_SIM"
START_LIMIT_S = 10.0
TRACE_LIMIT_S = 5.0

HEAD = bytes([0xEB, 0x90])
TAIL = 0xCC
READ_TEMP = 0x93
READ_TIMING = 0xC1


def pytest_collection_modifyitems(items: list[pytest.Item]) -> None:
    """Runs the tests against a real Tango database last, whatever selects or orders the modules.

    PyTango's test context forks its servers, and a server forked from a process
    whose Tango client has used a database hangs while it starts.
    """
    items.sort(key=lambda item: item.module is not None and item.module.__name__ == "test_tango_database")


def frame(cmd: int, opt: int = 0, pa: bytes = b"") -> bytes:
    """A frame as the protocol lays it out: head, length, code, option word, PA, checksum, tail."""
    body = HEAD + (len(pa) + 6).to_bytes(2, "little") + bytes([cmd]) + opt.to_bytes(2, "little") + pa
    return body + (sum(body) & 0xFFFF).to_bytes(2, "little") + bytes([TAIL])


def frame_fields(data: bytes) -> tuple[int, int, bytes]:
    """The code, option word and PA of a frame."""
    return data[4], int.from_bytes(data[5:7], "little"), data[7:-3]


@dataclass
class DeviceTrace:
    """The frames a simulated device reports on standard error: what it received (rx) and sent (tx)."""

    lines: list[str] = field(default_factory=list)
    changed: threading.Condition = field(default_factory=threading.Condition)

    def add(self, line: str) -> None:
        with self.changed:
            self.lines.append(line)
            self.changed.notify_all()

    def frames(self, direction: str) -> list[bytes]:
        """Every frame of one direction so far, in order."""
        with self.changed:
            return [bytes.fromhex(line[4:]) for line in self.lines if line.startswith(direction + ": ")]

    def wait_for(self, direction: str, count: int) -> list[bytes]:
        """The frames of `direction` once there are at least `count`; fails after a while."""
        with self.changed:
            arrived = self.changed.wait_for(lambda: len(self.frames(direction)) >= count, TRACE_LIMIT_S)
        assert arrived, f"the device traced {len(self.frames(direction))} {direction} frames, not {count}"
        return self.frames(direction)


@dataclass
class Simulator:
    """One qx480-sim process: `link` is the path a host opens, `tty` the pseudo-terminal behind it."""

    process: subprocess.Popen[str]
    link: str
    tty: str
    trace: DeviceTrace

    def received(self, count: int) -> list[bytes]:
        """The requests the device received, once it has received at least `count`."""
        return self.trace.wait_for("rx", count)

    def sent(self, count: int) -> list[bytes]:
        """The responses the device sent, once it has sent at least `count`."""
        return self.trace.wait_for("tx", count)

    def stop(self) -> None:
        self.process.terminate()
        try:
            self.process.wait(TRACE_LIMIT_S)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def _first_line(process: subprocess.Popen[str]) -> str:
    """The first line the program prints, or "" when it ends or takes too long."""
    assert process.stdout is not None
    with selectors.DefaultSelector() as selector:
        selector.register(process.stdout, selectors.EVENT_READ)
        if not selector.select(START_LIMIT_S):
            return ""
    return process.stdout.readline().strip()


def _collect(stream: IO[str], trace: DeviceTrace) -> None:
    for line in stream:
        trace.add(line.rstrip("\n"))


@pytest.fixture(scope="session")
def sim_program() -> str:
    """The qx480-sim program."""
    program = os.environ.get(SIM_VARIABLE)
    if not program or not os.access(program, os.X_OK):
        pytest.fail(f"set {SIM_VARIABLE} to the qx480-sim program (build/native/bin/qx480-sim), not {program!r}")
    return program


@pytest.fixture
def start_sim(sim_program: str, tmp_path: Path) -> Iterator[Callable[..., Simulator]]:
    """Starts simulated devices with the given flags; each one is ready (its link made) when it is returned."""
    started: list[Simulator] = []

    def start(*flags: str, link: str | None = None, listen: bool = False) -> Simulator:
        """Starts one device; `link` reuses a path (of a device that has ended), else a new one.

        With `listen` the device serves a free loopback TCP port instead, and `link` is its socket:// URL.
        """
        link = link or str(tmp_path / f"qx480-{len(started)}")
        line = ["--listen", "0"] if listen else ["--link", link]
        process = subprocess.Popen(
            [sim_program, *line, "--trace", *flags],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        trace = DeviceTrace()
        threading.Thread(target=_collect, args=(process.stderr, trace), daemon=True).start()
        first = _first_line(process)
        sim = Simulator(process, first if listen else link, first, trace)
        started.append(sim)
        assert sim.tty and (listen or os.path.islink(link)), f"qx480-sim did not start: {trace.lines}"
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def sim(start_sim: Callable[..., Simulator]) -> Simulator:
    """A simulated device without faults."""
    return start_sim()


@pytest.fixture
def device(sim: Simulator) -> Iterator[qx480.Device]:
    """The device on `sim`, open."""
    with qx480.Device(sim.link) as dg:
        yield dg
