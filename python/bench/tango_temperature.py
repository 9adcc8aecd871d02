"""A Temperature read through the Tango device server against the same read from the package.

    /usr/bin/python3 python/bench/tango_temperature.py [BUILD_DIR] [--reads N]

Both read one simulated device (qx480-sim from BUILD_DIR, default
build/native) in one run: first the package alone, then the server (started
without a database by PyTango's test context) holding the port. The figures
are medians and 99th percentiles over every read (at least 1,000 each).
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
from pathlib import Path

from exchange_rounds import ROOT, simulated_device, timed


def p99(samples: list[float]) -> float:
    return statistics.quantiles(samples, n=100)[98]


def through_package(port: str, reads: int) -> list[float]:
    import qx480

    with qx480.Device(port) as dg:
        return timed(dg.read_temperature, reads)


def through_tango(port: str, reads: int) -> list[float]:
    from tango.test_context import DeviceTestContext

    from qx480.tango import QX480DDG

    with DeviceTestContext(QX480DDG, properties={"Port": port}, process=True) as proxy:
        return timed(lambda: proxy.read_attribute("Temperature"), reads)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", type=Path, default=ROOT / "build" / "native")
    parser.add_argument("--reads", type=int, default=1000, help="reads of each way (at least 1000)")
    arguments = parser.parse_args()
    reads = max(arguments.reads, 1000)
    os.environ.setdefault("QX480_LIBRARY", str(arguments.build.resolve() / "lib" / "libqx480.so"))
    sys.path.append(str(ROOT / "python"))  # an installed package comes first
    with simulated_device(arguments.build.resolve()) as (port, _):
        samples = {"qx480.Device.read_temperature()": through_package(port, reads),
                   "Tango read_attribute('Temperature')": through_tango(port, reads)}
    print(f"Temperature against qx480-sim, {reads} reads each:")
    for name, taken in samples.items():
        print(f"  {name:38} median {statistics.median(taken):8.1f} us   p99 {p99(taken):8.1f} us")


if __name__ == "__main__":
    main()
