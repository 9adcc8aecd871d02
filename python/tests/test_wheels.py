"""The wheels scripts/wheel builds: their tags, their files, and the functions the Windows DLL exports.

scripts/test-python names them in QX480_NATIVE_WHEEL and QX480_WINDOWS_WHEEL.
"""

from __future__ import annotations

import os
import re
import subprocess
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
MODULES = sorted(f"qx480/{p.name}" for p in (ROOT / "python" / "qx480").glob("*.py")) + ["qx480/py.typed"]
OBJDUMP = "x86_64-w64-mingw32-objdump"


def project_version() -> str:
    found = re.search(r"^project\(qx480 VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text(), re.MULTILINE)
    assert found, "the top-level CMakeLists.txt names no version"
    return found.group(1)


def wheel(variable: str) -> Path:
    named = os.environ.get(variable)
    if not named:
        pytest.skip(f"{variable} names no wheel (scripts/test-python sets it)")
    return Path(named)


def header_functions() -> set[str]:
    """The functions capi/qx480.h declares."""
    return set(re.findall(r"QX480_EXPORT [^(]*?\b(qx480_\w+)\(", (ROOT / "capi" / "qx480.h").read_text()))


def dll_exports(dll: Path) -> set[str]:
    """The names in the DLL's export table."""
    dump = subprocess.run([OBJDUMP, "-p", str(dll)], capture_output=True, text=True, check=True).stdout
    table = dump.split("[Ordinal/Name Pointer] Table", 1)[1]
    return set(re.findall(r"^\s+\[\s*\d+\]\s+(\S+)$", table, re.MULTILINE))


@pytest.mark.parametrize(
    ("variable", "platform", "library", "other"),
    [
        ("QX480_NATIVE_WHEEL", "linux_x86_64", "qx480/libqx480.so", "qx480/libqx480.dll"),
        ("QX480_WINDOWS_WHEEL", "win_amd64", "qx480/libqx480.dll", "qx480/libqx480.so"),
    ],
)
def test_a_wheel_holds_the_package_and_the_library_of_its_platform(
    variable: str, platform: str, library: str, other: str
) -> None:
    path = wheel(variable)
    version = project_version()
    assert path.name == f"qx480-{version}-py3-none-{platform}.whl"
    with zipfile.ZipFile(path) as archive:
        names = set(archive.namelist())
        tags = archive.read(f"qx480-{version}.dist-info/WHEEL").decode()
        metadata = archive.read(f"qx480-{version}.dist-info/METADATA").decode()
    assert set(MODULES) | {library} <= names
    assert other not in names
    assert f"Tag: py3-none-{platform}" in tags and "Root-Is-Purelib: false" in tags
    assert f"Version: {version}" in metadata and "Requires-Python: >=3.11" in metadata


def test_the_windows_dll_exports_every_function_of_the_c_interface(tmp_path: Path) -> None:
    with zipfile.ZipFile(wheel("QX480_WINDOWS_WHEEL")) as archive:
        dll = Path(archive.extract("qx480/libqx480.dll", tmp_path))
    functions = header_functions()
    assert len(functions) == 25
    assert functions <= dll_exports(dll)
