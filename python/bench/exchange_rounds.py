"""The exchange from every client beside the floor, and the tool against a line paced like a real one.

    /usr/bin/python3 python/bench/exchange_rounds.py BUILD_DIR [--rounds N] [--calls N]

Part one: one qx480-sim serves one pseudo-terminal from a CPU of its own
(the clients run on another); five clients take turns on it, round after
round, each making --calls temperature queries per round:
a hand-written exchange (tcflush, write, poll, read: the floor), the C++
driver, the C interface, a plain pyserial script doing the same exchange and
the Python package. Each time is the median over the rounds of each round's
median, and each ratio the median over the rounds of the ratio within the
round, so a burst of load on the machine falls on one round only.

Part two: qx480-sim --pace 115200 sends and takes bytes no faster than a
115200-baud line (unpinned: a paced device wakes for every byte, and on a
CPU of its own it would wait for that CPU whenever others use it); the qx480 tool's `status` and the `apply` of a full
eight-channel setup file are timed from start to exit and set beside the
time their frames take on the wire (10 bits a byte).

Prints the rows of the table that scripts/bench shows. Needs pyserial
(Debian's python3-serial). Run it as a script: the repository root's serial/
folder would pass for pyserial.
"""

from __future__ import annotations

import argparse
import contextlib
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable, Iterator
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BAUD = 115200
BITS_PER_BYTE = 10
REQUEST = bytes.fromhex("EB 90 06 00 93 00 00 14 02 CC")  # READ_TEMP
ANSWER_SIZE = 14
WARM_UP_CALLS = 200
TOOL_RUNS = 5

CPP_GOAL = 1.10
C_GOAL = 1.02
PYTHON_FLOOR_GOAL = 1.25
PYTHON_PYSERIAL_GOAL = 0.90
WIRE_GOAL = 1.10


@contextlib.contextmanager
def simulated_device(
    build: Path, *options: str, cpus: set[int] | None = None
) -> Iterator[tuple[str, subprocess.Popen[str]]]:
    """A qx480-sim process (on `cpus` when given); yields the pseudo-terminal it serves, once it serves it, and
    the process."""
    process = subprocess.Popen(
        [str(build / "bin" / "qx480-sim"), *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        preexec_fn=None if cpus is None else lambda: os.sched_setaffinity(0, cpus),
    )
    try:
        assert process.stdout is not None
        port = process.stdout.readline().strip()
        if not port:
            raise SystemExit(f"qx480-sim did not start: {process.stderr.read() if process.stderr else ''}")
        yield port, process
    finally:
        process.terminate()
        process.wait()


@contextlib.contextmanager
def device_apart(build: Path) -> Iterator[str]:
    """A qx480-sim on one CPU while this process (and every process it starts) runs on another, as a device
    across a line would be; yields its pseudo-terminal. Where the two ends share a CPU, an exchange costs a
    seventh as much and the ratios would measure other things. With one CPU both share it."""
    allowed = os.sched_getaffinity(0)
    device_cpus, client_cpus = ({max(allowed)}, {min(allowed)}) if len(allowed) > 1 else (None, allowed)
    os.sched_setaffinity(0, client_cpus)
    try:
        with simulated_device(build, cpus=device_cpus) as (port, _):
            yield port
    finally:
        os.sched_setaffinity(0, allowed)


def timed(call: Callable[[], object], count: int) -> list[float]:
    """Microseconds of each of `count` calls, after untimed ones to warm up."""
    for _ in range(WARM_UP_CALLS):
        call()
    samples = []
    for _ in range(count):
        start = time.perf_counter_ns()
        call()
        samples.append((time.perf_counter_ns() - start) / 1000)
    return samples


def native_client(build: Path, way: str) -> Callable[[str, int], list[float]]:
    """A way measured by qx480-exchange-client in a process of its own."""

    def run(port: str, count: int) -> list[float]:
        result = subprocess.run(
            [str(build / "bin" / "qx480-exchange-client"), way, port, str(count)],
            capture_output=True, text=True, check=False,
        )
        if result.returncode != 0:
            raise SystemExit(f"qx480-exchange-client {way}: {result.stderr.strip()}")
        return [float(line) for line in result.stdout.split()]

    return run


def with_pyserial(port: str, count: int) -> list[float]:
    import serial

    with serial.Serial(port, BAUD, timeout=1) as line:

        def exchange() -> None:
            line.reset_input_buffer()
            line.write(REQUEST)
            if len(line.read(ANSWER_SIZE)) != ANSWER_SIZE:
                raise SystemExit("pyserial: no whole answer")

        return timed(exchange, count)


def with_package(port: str, count: int) -> list[float]:
    import qx480

    with qx480.Device(port, BAUD) as dg:
        return timed(dg.read_temperature, count)


def row(what: str, result: str, goal: str) -> None:
    print(f"| {what:52} | {result:60} | {goal:26} |")


def verdict(ratio: float, goal: float, reference: str) -> str:
    """"1.07 x floor: met (<= 1.10)"."""
    return f"{ratio:.2f} x {reference}: " + ("met" if ratio <= goal else "MISSED") + f" (<= {goal:.2f})"


def exchanges(build: Path, rounds: int, calls: int) -> None:
    ways: dict[str, Callable[[str, int], list[float]]] = {
        "floor": native_client(build, "floor"),
        "cpp": native_client(build, "cpp"),
        "c": native_client(build, "c"),
        "pyserial": with_pyserial,
        "python": with_package,
    }
    medians: dict[str, list[float]] = {name: [] for name in ways}
    with device_apart(build) as port:
        for _ in range(rounds):
            for name, way in ways.items():
                medians[name].append(statistics.median(way(port, calls)))

    def ratio(name: str, reference: str) -> float:
        """The median over the rounds of the ratio within each round, which the machine's load changes alike."""
        return statistics.median(a / b for a, b in zip(medians[name], medians[reference]))

    def figures(name: str) -> str:
        values = medians[name]
        return f"median {statistics.median(values):.1f} us (rounds {min(values):.1f}-{max(values):.1f})"

    row("clients: floor, C tcflush/write/poll/read", f"{figures('floor')}, {rounds} x {calls} calls", "reference")
    row("clients: C++ QX480DDG::ReadTemperature", figures("cpp"), verdict(ratio("cpp", "floor"), CPP_GOAL, "floor"))
    row("clients: C qx480_read_temperature", figures("c"), verdict(ratio("c", "cpp"), C_GOAL, "C++"))
    row("clients: pyserial script, same exchange", figures("pyserial"), f"{ratio('pyserial', 'floor'):.2f} x floor")
    row("clients: Python Device.read_temperature()", figures("python"),
        verdict(ratio("python", "floor"), PYTHON_FLOOR_GOAL, "floor"))
    row("clients: Python beside the pyserial script", f"{ratio('python', 'pyserial'):.2f} x",
        verdict(ratio("python", "pyserial"), PYTHON_PYSERIAL_GOAL, "pyserial"))


# Every channel set, the trigger and the output: the most an apply sends.
FULL_SETUP = {
    "qx480_setup": 1,
    "output": True,
    "trigger": {"source": "internal", "rate": "1kHz"},
    "channels": {str(n): {"delay": f"{10 * n}ns", "width": f"{100 + n}ns", "on": n % 2 == 1} for n in range(1, 9)},
}


def wire_bytes(build: Path, arguments: list[str]) -> int:
    """The bytes of every frame that one run of the tool puts on the line, both ways, from the device's trace."""
    with simulated_device(build, "--trace") as (port, process):
        tool(build, port, arguments)
        process.terminate()
        _, trace = process.communicate()
    lines = [line.split(":", 1)[1] for line in trace.splitlines() if line.startswith(("rx:", "tx:"))]
    return sum(len(line.split()) for line in lines)


def tool(build: Path, port: str, arguments: list[str]) -> float:
    """Runs the qx480 tool on `port`; its milliseconds from start to exit."""
    start = time.perf_counter_ns()
    result = subprocess.run(
        [str(build / "bin" / "qx480"), "--port", port, *arguments], capture_output=True, text=True, check=False
    )
    taken = (time.perf_counter_ns() - start) / 1e6
    if result.returncode != 0:
        raise SystemExit(f"qx480 {' '.join(arguments)}: {result.stderr.strip()}")
    return taken


def paced(build: Path) -> None:
    with tempfile.TemporaryDirectory() as folder:
        setup = Path(folder) / "setup.json"
        setup.write_text(json.dumps(FULL_SETUP))
        steps = {"status": ["status"], "apply": ["apply", str(setup)]}
        wire_ms = {
            name: wire_bytes(build, arguments) * BITS_PER_BYTE * 1000 / BAUD for name, arguments in steps.items()
        }
        taken: dict[str, list[float]] = {name: [] for name in steps}
        with simulated_device(build, "--pace", str(BAUD)) as (port, _):
            for _ in range(TOOL_RUNS):
                for name, arguments in steps.items():
                    taken[name].append(tool(build, port, arguments))
    for name in steps:
        median = statistics.median(taken[name])
        row(f"paced line {BAUD} baud: qx480 {name}",
            f"median {median:.1f} ms of {TOOL_RUNS} runs, wire time {wire_ms[name]:.1f} ms",
            verdict(median / wire_ms[name], WIRE_GOAL, "wire"))


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("build", type=Path)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--calls", type=int, default=500, help="timed calls of each client per round")
    arguments = parser.parse_args()
    build = arguments.build.resolve()
    os.environ.setdefault("QX480_LIBRARY", str(build / "lib" / "libqx480.so"))
    sys.path.append(str(ROOT / "python"))  # an installed package comes first
    exchanges(build, max(arguments.rounds, 1), max(arguments.calls, 100))
    paced(build)


if __name__ == "__main__":
    main()
