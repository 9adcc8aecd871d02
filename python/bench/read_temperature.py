"""How long one temperature query takes from Python, three ways, on one simulated device.

    python3 python/bench/read_temperature.py [BUILD_DIR] [--calls N]

- qx480.Device.read_temperature(), the package;
- qx480_read_temperature called through ctypes, the C interface alone;
- a plain pyserial exchange: write the 10-byte request, read the 14-byte answer.

BUILD_DIR (default build/native) gives qx480-sim and, unless QX480_LIBRARY
names another, libqx480.so. The package is the installed one, or else the
repository's python/ folder. The three take turns in rounds, so that the
machine's load falls on all alike; the figures are medians and 99th
percentiles over every call. Run it as a script (not with -m from the
repository root, whose serial/ folder would pass for pyserial).
"""

from __future__ import annotations

import argparse
import contextlib
import ctypes
import os
import statistics
import subprocess
import sys
import time
from collections.abc import Callable, Iterator
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
REQUEST = bytes.fromhex("EB 90 06 00 93 00 00 14 02 CC")
ANSWER_SIZE = 14
ROUNDS = 10
BAUD = 115200


@contextlib.contextmanager
def simulated_device(build: Path) -> Iterator[str]:
    """A qx480-sim process; yields the pseudo-terminal it serves once it serves it."""
    process = subprocess.Popen([str(build / "bin" / "qx480-sim")], stdout=subprocess.PIPE, text=True)
    try:
        assert process.stdout is not None
        port = process.stdout.readline().strip()
        if not port:
            raise SystemExit("qx480-sim did not start")
        yield port
    finally:
        process.terminate()
        process.wait()


def timed(call: Callable[[], object], count: int) -> list[float]:
    """Microseconds of each of `count` calls."""
    samples = []
    for _ in range(count):
        start = time.perf_counter_ns()
        call()
        samples.append((time.perf_counter_ns() - start) / 1000)
    return samples


def with_package(port: str, count: int) -> list[float]:
    import qx480

    with qx480.Device(port, BAUD) as dg:
        return timed(dg.read_temperature, count)


def with_c_interface(port: str, count: int) -> list[float]:
    from qx480 import _library

    lib = ctypes.CDLL(str(_library.library_path()))
    lib.qx480_open.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.POINTER(ctypes.c_void_p)]
    lib.qx480_read_temperature.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_float)]
    lib.qx480_close.argtypes = [ctypes.c_void_p]
    handle = ctypes.c_void_p()
    if lib.qx480_open(port.encode(), BAUD, ctypes.byref(handle)) != 0:
        raise SystemExit(f"qx480_open failed on {port}")
    celsius = ctypes.c_float()
    celsius_pointer = ctypes.byref(celsius)

    def read() -> None:
        if lib.qx480_read_temperature(handle, celsius_pointer) != 0:
            raise SystemExit("qx480_read_temperature failed")

    try:
        return timed(read, count)
    finally:
        lib.qx480_close(handle)


def with_pyserial(port: str, count: int) -> list[float]:
    import serial

    with serial.Serial(port, BAUD, timeout=1) as line:

        def exchange() -> None:
            line.write(REQUEST)
            if len(line.read(ANSWER_SIZE)) != ANSWER_SIZE:
                raise SystemExit("pyserial: no whole answer")

        return timed(exchange, count)


WAYS: dict[str, Callable[[str, int], list[float]]] = {
    "qx480.Device.read_temperature()": with_package,
    "qx480_read_temperature via ctypes": with_c_interface,
    "pyserial write 10 + read 14 bytes": with_pyserial,
}


def p99(samples: list[float]) -> float:
    return statistics.quantiles(samples, n=100)[98]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", type=Path, default=ROOT / "build" / "native")
    parser.add_argument("--calls", type=int, default=5000, help="calls of each way (at least 3000)")
    arguments = parser.parse_args()
    calls = max(arguments.calls, 3000)
    os.environ.setdefault("QX480_LIBRARY", str(arguments.build.resolve() / "lib" / "libqx480.so"))
    sys.path.append(str(ROOT / "python"))  # an installed package comes first

    samples: dict[str, list[float]] = {name: [] for name in WAYS}
    with simulated_device(arguments.build) as port:
        for _ in range(ROUNDS):
            for name, way in WAYS.items():
                samples[name] += way(port, -(-calls // ROUNDS))
    floor = statistics.median(samples["pyserial write 10 + read 14 bytes"])
    print(f"read_temperature against qx480-sim, {len(samples[next(iter(WAYS))])} calls each, in {ROUNDS} rounds:")
    for name, taken in samples.items():
        median = statistics.median(taken)
        print(f"  {name:36} median {median:7.1f} us   p99 {p99(taken):7.1f} us   {median / floor:4.2f} x pyserial")


if __name__ == "__main__":
    main()
