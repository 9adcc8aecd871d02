"""The C library of the package, loaded by its absolute path, and the C types it speaks."""

from __future__ import annotations

import ctypes
import functools
import os
import sys
from pathlib import Path

LIBRARY_VARIABLE = "QX480_LIBRARY"
"""The environment variable that names another library file to load."""

CHANNEL_COUNT = 8

# The library's file name by platform; anything not listed has a .so.
_FILE_NAMES = {"win32": "libqx480.dll"}

Handle = ctypes.c_void_p
TraceFunction = ctypes.CFUNCTYPE(
    None, ctypes.c_void_p, ctypes.c_int32, ctypes.POINTER(ctypes.c_uint8), ctypes.c_int32
)


class ChannelTimingStruct(ctypes.Structure):
    """qx480_channel_timing."""

    _fields_ = [
        ("delay_counts", ctypes.c_uint64),
        ("width_counts", ctypes.c_uint64),
        ("time140_counts", ctypes.c_uint64),
        ("time204_counts", ctypes.c_uint64),
        ("delay_s", ctypes.c_double),
        ("width_s", ctypes.c_double),
        ("time140_s", ctypes.c_double),
        ("time204_s", ctypes.c_double),
    ]


class TimingStruct(ctypes.Structure):
    """qx480_timing."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("trigger_ticks", ctypes.c_uint32),
        ("trigger_hz", ctypes.c_double),
        ("word128", ctypes.c_uint32),
        ("byte130", ctypes.c_uint32),
        ("byte131", ctypes.c_uint32),
        ("byte136", ctypes.c_uint32),
        ("byte137", ctypes.c_uint32),
        ("word138", ctypes.c_uint32),
        ("float276", ctypes.c_float),
        ("channels", ChannelTimingStruct * CHANNEL_COUNT),
    ]


_I32 = ctypes.c_int32
_DEVICE_CALLS: dict[str, list[type]] = {
    "qx480_set_trigger_source": [Handle, _I32],
    "qx480_set_trigger_rate": [Handle, ctypes.c_double, ctypes.POINTER(ctypes.c_double)],
    "qx480_set_trigger_ticks": [Handle, ctypes.c_uint32],
    "qx480_set_channel_output": [Handle, _I32, _I32],
    "qx480_set_output": [Handle, _I32],
    "qx480_set_delay": [Handle, _I32, ctypes.c_double],
    "qx480_set_width": [Handle, _I32, ctypes.c_double],
    "qx480_set_delay_counts": [Handle, _I32, ctypes.c_uint64],
    "qx480_set_width_counts": [Handle, _I32, ctypes.c_uint64],
    "qx480_fire": [Handle],
    "qx480_read_temperature": [Handle, ctypes.POINTER(ctypes.c_float)],
    "qx480_read_timing": [Handle, ctypes.POINTER(TimingStruct)],
    "qx480_set_trace": [Handle, TraceFunction, ctypes.c_void_p],
    "qx480_open": [ctypes.c_char_p, _I32, ctypes.POINTER(Handle)],
    "qx480_open_message": [ctypes.c_char_p, _I32, ctypes.POINTER(Handle), ctypes.c_char_p, _I32],
}
# Functions that give something other than a status.
_OTHER_CALLS: dict[str, tuple[list[type], type | None]] = {
    "qx480_version": ([], ctypes.c_char_p),
    "qx480_status_name": ([_I32], ctypes.c_char_p),
    "qx480_status_text": ([_I32], ctypes.c_char_p),
    "qx480_close": ([Handle], None),
}
_TEXT = ctypes.c_char_p
_UNIT_CALLS: dict[str, list[type]] = {
    "qx480_parse_time": [_TEXT, ctypes.POINTER(ctypes.c_uint64), _TEXT, _I32],
    "qx480_parse_rate": [_TEXT, ctypes.POINTER(ctypes.c_uint32), ctypes.POINTER(ctypes.c_double), _TEXT, _I32],
    "qx480_seconds_to_counts": [ctypes.c_double, ctypes.POINTER(ctypes.c_uint64), _TEXT, _I32],
    "qx480_format_time": [ctypes.c_uint64, _TEXT, _I32],
    "qx480_describe_period": [ctypes.c_uint32, ctypes.POINTER(ctypes.c_double), _TEXT, _I32],
    "qx480_failure_line": [_I32, _TEXT, _TEXT, _I32, _TEXT, _I32],
}
_LINE_SIZE = 1024


def library_path() -> Path:
    """The absolute path of the library this package loads.

    It is the file beside the package's modules (libqx480.so, or libqx480.dll
    on Windows) unless the environment variable QX480_LIBRARY names another;
    a relative name there is taken from the current directory. The library is
    never looked up on PATH or the system's library path.
    """
    override = os.environ.get(LIBRARY_VARIABLE)
    if override:
        return Path(override).resolve()
    return Path(__file__).resolve().parent / _FILE_NAMES.get(sys.platform, "libqx480.so")


def _declare(lib: ctypes.CDLL) -> None:
    for name, argtypes in (_DEVICE_CALLS | _UNIT_CALLS).items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = _I32
    for name, (argtypes, restype) in _OTHER_CALLS.items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = restype


@functools.cache
def library() -> ctypes.CDLL:
    """The C library, loaded on first use; OSError naming the file when it cannot be."""
    path = library_path()
    try:
        lib = ctypes.CDLL(str(path))
    except OSError as error:
        raise OSError(f"cannot load the qx480 library {path} (set {LIBRARY_VARIABLE} to its path): {error}") from None
    _declare(lib)
    return lib


def status_name(status: int) -> str:
    """The C name of a status: "QX480_ERR_REFUSED"."""
    name: bytes = library().qx480_status_name(status)
    return name.decode("ascii")


def status_text(status: int) -> str:
    """The C library's sentence on a status."""
    text: bytes = library().qx480_status_text(status)
    return text.decode("utf-8")


def open_handle(port: str, baud: int, handle: ctypes.c_void_p) -> tuple[int, str]:
    """Opens `port` at `baud` into `handle`: the status and, on a failure, the library's line on why."""
    message = ctypes.create_string_buffer(_LINE_SIZE)
    status: int = library().qx480_open_message(port.encode("utf-8"), baud, ctypes.byref(handle), message, _LINE_SIZE)
    return status, message.value.decode("utf-8", "replace")


def failure_line(status: int, port: str, what: str | None, baud: int = 0) -> str:
    """The library's one line on why `what` (None: opening the port at `baud`) failed with `status` on `port`."""
    out = ctypes.create_string_buffer(_LINE_SIZE)
    encoded_what = None if what is None else what.encode("utf-8", "surrogatepass")
    library().qx480_failure_line(status, port.encode("utf-8", "surrogatepass"), encoded_what, baud, out, _LINE_SIZE)
    return out.value.decode("utf-8", "surrogatepass")


def version() -> str:
    """The library's "MAJOR.MINOR.PATCH"."""
    text: bytes = library().qx480_version()
    return text.decode("ascii")
