"""How the installed package finds its library, and what it carries."""

from __future__ import annotations

import ctypes
import importlib.metadata
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import qx480
from qx480 import _library
from qx480.device import windows_device_path

PACKAGE = Path(qx480.__file__).resolve().parent
# Prints the library path the package names and the one the process mapped.
SHOW_LIBRARY = """
import qx480
qx480.version()
mapped = {line.split()[-1] for line in open("/proc/self/maps") if "libqx480" in line}
print(qx480.library_path())
print(*sorted(mapped))
"""


def run_python(code: str, cwd: Path, **variables: str) -> subprocess.CompletedProcess[str]:
    environment = {k: v for k, v in os.environ.items() if k != "QX480_LIBRARY"} | variables
    return subprocess.run([sys.executable, "-c", code], cwd=cwd, env=environment, capture_output=True, text=True)


def test_the_package_loads_the_library_beside_its_modules() -> None:
    assert "QX480_LIBRARY" not in os.environ, "the tests check the installed package with its own library"
    assert Path(sys.prefix) in PACKAGE.parents, f"{PACKAGE} is not the package installed in {sys.prefix}"
    assert qx480.library_path() == PACKAGE / "libqx480.so"
    assert qx480.library_path().is_file()
    assert (PACKAGE / "py.typed").is_file()


def test_the_library_version_is_the_package_version() -> None:
    assert qx480.version() == importlib.metadata.version("qx480")
    assert [int(part) for part in qx480.version().split(".")] >= [1, 0, 0]


def test_the_library_is_never_taken_from_the_search_path(tmp_path: Path) -> None:
    (tmp_path / "libqx480.so").write_bytes(b"not a library")
    shown = run_python(SHOW_LIBRARY, tmp_path, LD_LIBRARY_PATH=str(tmp_path), PATH=f"{tmp_path}:{os.environ['PATH']}")
    assert shown.returncode == 0, shown.stderr
    assert shown.stdout.splitlines() == [str(PACKAGE / "libqx480.so")] * 2


def test_qx480_library_names_another_file_relative_to_the_current_directory(tmp_path: Path) -> None:
    shutil.copy(PACKAGE / "libqx480.so", tmp_path / "libqx480-other.so")
    shown = run_python(SHOW_LIBRARY, tmp_path, QX480_LIBRARY="libqx480-other.so")
    assert shown.returncode == 0, shown.stderr
    assert shown.stdout.splitlines() == [str(tmp_path / "libqx480-other.so")] * 2


def test_a_library_that_is_not_there_is_named_in_the_error(tmp_path: Path) -> None:
    failed = run_python("import qx480; qx480.version()", tmp_path, QX480_LIBRARY=str(tmp_path / "gone.so"))
    assert failed.returncode != 0
    assert f"OSError: cannot load the qx480 library {tmp_path / 'gone.so'} (set QX480_LIBRARY to its path)" in (
        failed.stderr
    )


@pytest.mark.parametrize(
    ("port", "opened"),
    [("COM1", "\\\\.\\COM1"), ("COM9", "\\\\.\\COM9"), ("com10", "\\\\.\\com10"), ("COM256", "\\\\.\\COM256")]
    + [(same, same) for same in ["COM0", "COM257", "COM01", "COM", "COMX", "COM1a", "COM9999", "\\\\.\\COM5",
                                 "/dev/ttyUSB0", "LPT1", "", "COM²"]],
)
def test_windows_port_names_get_the_device_prefix_as_the_tool_gives_it(port: str, opened: str) -> None:
    assert windows_device_path(port) == opened


def test_a_port_name_with_a_nul_is_refused(tmp_path: Path) -> None:
    with pytest.raises(qx480.ArgumentError, match="holds a NUL character"):
        qx480.Device(f"{tmp_path}/x\0y")


@pytest.mark.parametrize(("baud", "kind"), [(0, qx480.ArgumentError), (-9600, qx480.ArgumentError),
                                            (2**31, qx480.ArgumentError), (9600.0, TypeError), ("9600", TypeError)])
def test_a_baud_rate_outside_the_c_interface_is_refused(tmp_path: Path, baud: object, kind: type) -> None:
    with pytest.raises(kind, match="baud"):
        qx480.Device(str(tmp_path / "never-opened"), baud=baud)  # type: ignore[arg-type]


def test_the_timing_structures_match_the_c_header() -> None:
    program = os.environ.get("QX480_TIMING_LAYOUT")
    if not program:
        pytest.fail("set QX480_TIMING_LAYOUT to the timing_layout program (build/native/bin/timing_layout)")
    mirrors = {"qx480_timing": _library.TimingStruct, "qx480_channel_timing": _library.ChannelTimingStruct}
    lines = subprocess.run([program], check=True, capture_output=True, text=True).stdout.splitlines()
    header_fields: dict[str, list[str]] = {name: [] for name in mirrors}
    for line in lines:
        struct, field, *where = line.split()
        mirror = mirrors[struct]
        if field == "sizeof":
            assert ctypes.sizeof(mirror) == int(where[0]), struct
            continue
        header_fields[struct].append(field)
        described = getattr(mirror, field)
        assert (described.offset, described.size) == (int(where[0]), int(where[1])), f"{struct}.{field}"
    for struct, mirror in mirrors.items():
        assert [name for name, _ in mirror._fields_] == header_fields[struct], struct
