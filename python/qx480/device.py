"""The QX480DDG on a serial port, through the C library."""

from __future__ import annotations

import ctypes
import enum
import math
import numbers
import os
import sys
import threading
from collections.abc import Callable
from dataclasses import dataclass
from decimal import Decimal
from fractions import Fraction
from types import TracebackType
from typing import Any

from . import _library, units
from .errors import ArgumentError, Error, NotOpenError, Status, error_for

Time = float | int | str | Decimal | Fraction
"""A time: seconds as a float (to the nearest 10 ps step) or, exactly, as an int, a
Decimal or a Fraction; or a str in the qx480 tool's words ("10ns", "1.5 us")."""

Rate = float | int | str | Decimal | Fraction
"""A trigger rate: hertz as a number, or a str in the qx480 tool's words ("1kHz", "2.5 MHz")."""

# What a call does, as its failure message names it: the words, or a function that builds them.
_Step = str | Callable[[], str]

TIMEOUT_MS = 1000
"""The limit of every exchange, for writing the request and again for the answer."""

CHANNELS = range(1, _library.CHANNEL_COUNT + 1)
"""The device's channel numbers, 1 to 8."""

DEFAULT_BAUD = 115200
_MAX_BAUD = 2**31 - 1
_HIGHEST_COM_PORT = 256


class TriggerSource(enum.Enum):
    """Where the device takes its triggers from."""

    INTERNAL = 0
    EXTERNAL = 1
    SOFTWARE = 2


_SOURCES_BY_NAME = {source.name.lower(): source for source in TriggerSource}


class TraceDirection(enum.Enum):
    """Which way a traced frame went."""

    SENT = 0
    RECEIVED = 1
    DROPPED = 2
    """Stray bytes, another command's frame or a frame that failed its checks."""


TraceCallback = Callable[[TraceDirection, bytes], object]
"""What `Device.set_trace` calls for each frame; what it returns is not looked at."""


@dataclass(frozen=True)
class ChannelTiming:
    """One channel's times: exactly in 10 ps steps (`*_counts`) and in seconds."""

    delay_counts: int
    width_counts: int
    time140_counts: int
    time204_counts: int
    delay: float
    width: float
    time140: float
    time204: float


@dataclass(frozen=True)
class Timing:
    """The device's whole timing block, read in one exchange: channel n is channels[n - 1]."""

    trigger_ticks: int
    """The internal trigger period in 4 ns ticks."""
    trigger_hz: float
    """The rate the period gives; 0.0 for a period of 0 ticks."""
    word128: int
    byte130: int
    byte131: int
    byte136: int
    byte137: int
    word138: int
    float276: float
    channels: tuple[ChannelTiming, ...]


@dataclass(frozen=True)
class _TimeSetting:
    """A per-channel time and the C function that sets it."""

    name: str
    in_counts: str


_DELAY = _TimeSetting("delay", "qx480_set_delay_counts")
_WIDTH = _TimeSetting("width", "qx480_set_width_counts")


def windows_device_path(port: str) -> str:
    """The name Windows opens for `port`: COM1 to COM256 get the \\\\.\\ prefix, anything else stays."""
    number = port[3:]
    if port[:3].upper() != "COM" or not number.isascii() or not number.isdigit() or number.startswith("0"):
        return port
    return "\\\\.\\" + port if int(number) <= _HIGHEST_COM_PORT else port


def _system_port_name(port: str) -> str:
    return windows_device_path(port) if sys.platform == "win32" else port


def _step_text(what: _Step) -> str:
    return what if isinstance(what, str) else what()


def _on_off(on: bool) -> str:
    return "on" if on else "off"


def _whole(value: object, name: str, limits: range) -> int:
    """`value` as an int within `limits`: TypeError for anything but a whole number, ArgumentError outside."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be a whole number from {limits[0]} to {limits[-1]}, not {value!r}")
    if value not in limits:
        raise ArgumentError(f"{name} {value} is outside {limits[0]} to {limits[-1]}")
    return int(value)


def _channel(channel: object) -> int:
    return _whole(channel, "channel", CHANNELS)


def _switch(on: object, name: str) -> bool:
    if not isinstance(on, bool):
        raise TypeError(f"{name} must be True or False, not {on!r}")
    return on


def _exact_counts(time: object, what: str) -> int:
    """A time given exactly (str, int, Decimal, Fraction) in whole 10 ps steps."""
    if isinstance(time, str):
        return units.parse_time(time, what)
    if isinstance(time, Decimal):
        if not time.is_finite():  # the library's refusal of a time that is no number
            return units.seconds_to_counts(math.nan if time.is_nan() else float(time), f"{what} {time} s")
        return units.exact_counts(Fraction(time), f"{what} {time} s")
    if isinstance(time, numbers.Rational) and not isinstance(time, bool):
        return units.exact_counts(Fraction(time.numerator, time.denominator), f"{what} {time} s")
    raise TypeError(
        f"{what} must be seconds as a float, an int, a Decimal or a Fraction, or a str such as '10ns', not {time!r}"
    )


def _hertz(rate: object) -> float:
    """A rate given as a number, in hertz, as the nearest float."""
    if isinstance(rate, bool) or not isinstance(rate, (numbers.Real, Decimal)):
        raise TypeError(f"rate must be hertz as a number or a str such as '1kHz', not {rate!r}")
    try:
        return float(rate)
    except OverflowError:  # an int beyond every float: faster than any rate
        return float("inf")
    except ValueError:  # a signalling NaN
        return float("nan")


def _source(source: object) -> TriggerSource:
    if isinstance(source, TriggerSource):
        return source
    if not isinstance(source, str):
        raise TypeError(f"source must be a TriggerSource or its name, not {source!r}")
    if source not in _SOURCES_BY_NAME:
        meant = next((name for name in _SOURCES_BY_NAME if name == source.lower()), "")
        hint = f": did you mean {meant}?" if meant else ""
        raise ArgumentError(f"trigger takes internal, external or software, not '{source}'{hint}")
    return _SOURCES_BY_NAME[source]


def _channel_timing(c: _library.ChannelTimingStruct) -> ChannelTiming:
    return ChannelTiming(
        c.delay_counts, c.width_counts, c.time140_counts, c.time204_counts, c.delay_s, c.width_s, c.time140_s,
        c.time204_s,
    )


def _timing(t: _library.TimingStruct) -> Timing:
    return Timing(
        t.trigger_ticks, t.trigger_hz, t.word128, t.byte130, t.byte131, t.byte136, t.byte137, t.word138,
        t.float276, tuple(_channel_timing(c) for c in t.channels),
    )


class _Handle:
    """The C handle of an open device. Calls take it at the same time (the C library serializes
    them); closing waits for the calls under way, so that no call races with qx480_close."""

    def __init__(self, handle: ctypes.c_void_p, close: Callable[[ctypes.c_void_p], None]) -> None:
        self._handle: ctypes.c_void_p | None = handle
        self._close = close  # kept, so that a device collected at exit still closes
        self._users = 0
        # The bare lock on the calls' path (its `with` runs in C); the condition only for close.
        self._lock = threading.Lock()
        self._idle = threading.Condition(self._lock)

    @property
    def closed(self) -> bool:
        return self._handle is None

    def take(self) -> ctypes.c_void_p | None:
        """The handle for one call, to be given back with `give_back`; None once it is closed."""
        with self._lock:
            handle = self._handle
            if handle is not None:
                self._users += 1
            return handle

    def give_back(self) -> None:
        with self._lock:
            self._users -= 1
            if self._users == 0 and self._handle is None:
                self._idle.notify_all()

    def close(self) -> None:
        """Closes the handle once no call uses it; harmless when closed."""
        with self._idle:
            handle, self._handle = self._handle, None
            self._idle.wait_for(lambda: self._users == 0)
        if handle is not None:
            self._close(handle)


class Device:
    """A QX480DDG on a serial port, opened at once.

        with qx480.Device("/dev/ttyUSB0") as dg:
            dg.set_delay(1, "10ns")

    Each command and query is one exchange with the device: the request is
    written within 1000 ms and answered within 1000 ms more. A method returns
    when the device answered and accepted; otherwise it raises a subclass of
    `qx480.Error` whose message names the port and the step. When a command
    fails after its request went out, whether the device applied it is not
    known: read it back with `read_timing`. Arguments are checked before
    anything is sent (TypeError, or `ArgumentError`, a ValueError).

    Threads may share a Device: the library carries out one call at a time.
    `close` waits for the calls under way; later calls raise `NotOpenError`.
    """

    def __init__(self, port: str | os.PathLike[str], baud: int = DEFAULT_BAUD) -> None:
        """Opens `port` ("/dev/ttyUSB0", "COM3") at `baud` with 8 data bits, no parity and one stop bit.

        Sends nothing. Raises PortNotFoundError, PortBusyError,
        PortPermissionError, NotSerialError or SettingsError when the port
        does not open.
        """
        self._port = os.fspath(port)
        if not isinstance(self._port, str):
            raise TypeError(f"port must be a str, not {port!r}")
        if "\0" in self._port:
            raise ArgumentError(f"port {self._port!r} holds a NUL character")
        self._baud = _whole(baud, "baud", range(1, _MAX_BAUD + 1))
        self._tracing = threading.local()
        self._trace_function: object = None
        handle = ctypes.c_void_p()
        lib = self._lib = _library.library()
        system_name = _system_port_name(self._port)
        status, line = _library.open_handle(system_name, self._baud, handle)
        if status != Status.OK:
            # The line names the port as the system knows it ("\\.\COM10"); the caller knows it as given.
            raise error_for(status, line.replace(system_name, self._port, 1))
        self._handle = _Handle(handle, lib.qx480_close)

    # ---- Life ----

    @property
    def port(self) -> str:
        """The port's name as given."""
        return self._port

    @property
    def baud(self) -> int:
        """The line speed."""
        return self._baud

    @property
    def closed(self) -> bool:
        """True once `close` was called."""
        return self._handle.closed

    def close(self) -> None:
        """Closes the port, after the calls under way on other threads; harmless when closed."""
        self._refuse_inside_trace()
        self._handle.close()
        self._trace_function = None

    def __enter__(self) -> Device:
        """The device itself, for a `with` block that closes it at its end."""
        return self

    def __exit__(
        self, kind: type[BaseException] | None, value: BaseException | None, traceback: TracebackType | None
    ) -> None:
        """Closes the device, whether the block ended or raised (what it raised goes on)."""
        self.close()

    def __del__(self) -> None:
        handle = getattr(self, "_handle", None)
        if handle is not None:
            handle.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<qx480.Device {self._port} at {self._baud} baud, {state}>"

    # ---- Commands ----

    def set_delay(self, channel: int, time: Time) -> None:
        """Sets the delay of `channel` (1 to 8).

        `time` in seconds as a float goes to the nearest whole 10 ps step
        (and is refused unless it lies within a thousandth of a step of one);
        as an int, a Decimal or a Fraction it is exact; as a str it is read
        as the qx480 tool reads it ("10ns", "1.5 us", "0.01ns", "1e3"). A time
        that is not a whole number of 10 ps steps is refused, never rounded.
        """
        self._set_time(_DELAY, channel, time)

    def set_width(self, channel: int, time: Time) -> None:
        """Sets the pulse width of `channel` (1 to 8); `time` as for `set_delay`."""
        self._set_time(_WIDTH, channel, time)

    def set_delay_counts(self, channel: int, counts: int) -> None:
        """Sets the delay of `channel` (1 to 8) exactly, in 10 ps steps (0 to 2**64 - 1)."""
        self._set_counts(_DELAY, _channel(channel), _whole(counts, "delay count", range(units.MAX_COUNTS + 1)))

    def set_width_counts(self, channel: int, counts: int) -> None:
        """Sets the pulse width of `channel` (1 to 8) exactly, in 10 ps steps (0 to 2**64 - 1)."""
        self._set_counts(_WIDTH, _channel(channel), _whole(counts, "width count", range(units.MAX_COUNTS + 1)))

    def set_channel_output(self, channel: int, on: bool) -> None:
        """Switches the output of `channel` (1 to 8) on (True) or off (False)."""
        number, state = _channel(channel), _switch(on, "on")
        self._call(
            lambda: f"switching channel {number} {_on_off(state)}", self._lib.qx480_set_channel_output, number,
            int(state),
        )

    def set_output(self, on: bool) -> None:
        """Switches the global output on (True) or off (False)."""
        state = _switch(on, "on")
        self._call(lambda: f"switching the output {_on_off(state)}", self._lib.qx480_set_output, int(state))

    def set_trigger_source(self, source: TriggerSource | str) -> None:
        """Chooses the trigger source: a TriggerSource or "internal", "external", "software"."""
        chosen = _source(source)
        self._call(lambda: f"the {chosen.name.lower()} trigger", self._lib.qx480_set_trigger_source, chosen.value)

    def set_trigger_rate(self, rate: Rate) -> float:
        """Sets the internal trigger rate and returns the rate the device got, in hertz.

        `rate` is hertz as a number or a str as the qx480 tool reads it
        ("1kHz", "2.5 MHz", "1000"). The device counts the period in whole
        4 ns ticks at or below 1 / rate, so the rate it gets can lie a little
        above. Rates above 250 MHz or below about 0.0582 Hz are refused.
        """
        if isinstance(rate, str):
            return self.set_trigger_ticks(units.parse_rate(rate))
        return self.set_trigger_ticks(units.hz_to_ticks(_hertz(rate), f"rate {rate} Hz"))

    def set_trigger_ticks(self, ticks: int) -> float:
        """Sets the internal trigger period exactly, in 4 ns ticks (1 to 2**32 - 1); returns its rate in hertz."""
        period = _whole(ticks, "ticks", range(1, units.MAX_TICKS + 1))
        text, hz = units.describe_period(period)
        self._call(lambda: f"the rate {text}", self._lib.qx480_set_trigger_ticks, period)
        return hz

    def fire(self) -> None:
        """Fires one software trigger."""
        self._call("the software trigger", self._lib.qx480_fire)

    # ---- Queries ----

    def read_temperature(self) -> float:
        """The device temperature in degrees Celsius."""
        celsius = ctypes.c_float()
        self._call("the temperature query", self._lib.qx480_read_temperature, ctypes.byref(celsius))
        return celsius.value

    def read_timing(self) -> Timing:
        """All eight channels' times and the device-wide values, in one exchange."""
        block = _library.TimingStruct(size=ctypes.sizeof(_library.TimingStruct))
        self._call("the timing query", self._lib.qx480_read_timing, ctypes.byref(block))
        return _timing(block)

    # ---- Tracing ----

    def set_trace(self, callback: TraceCallback | None) -> None:
        """Calls callback(direction, frame) for every frame of the later calls; None stops it.

        The callback runs on the calling thread, inside the call; it must not
        use this Device (doing so raises RuntimeError there). What it raises
        goes to sys.unraisablehook and does not stop the call.
        """
        if callback is not None and not callable(callback):
            raise TypeError(f"callback must be callable or None, not {callback!r}")
        if callback is None:
            function = _library.TraceFunction(0)  # no function: the library stops calling
        else:
            function = _library.TraceFunction(self._tracer(callback))
        self._call("tracing", self._lib.qx480_set_trace, function, None)
        self._trace_function = function  # kept alive while the library may call it

    def _tracer(self, callback: TraceCallback) -> Callable[[Any, int, Any, int], None]:
        def trace(_user: Any, direction: int, frame: Any, size: int) -> None:
            self._tracing.active = True
            try:
                callback(TraceDirection(direction), ctypes.string_at(frame, size))
            finally:
                self._tracing.active = False

        return trace

    # ---- Calls ----

    def _refuse_inside_trace(self) -> None:
        if getattr(self._tracing, "active", False):
            raise RuntimeError(f"the trace callback of {self._port} cannot use its own Device")

    def _not_open(self, what: str) -> NotOpenError:
        return NotOpenError(_library.failure_line(Status.NOT_OPEN, self._port, what), Status.NOT_OPEN)

    def _call(self, what: _Step, function: Callable[..., int], *arguments: Any) -> None:
        """Calls function(handle, *arguments) on the handle; raises the matching Error, naming `what`, when it fails.

        On success nothing is formatted: a `what` that needs formatting is a function that builds it.
        """
        self._refuse_inside_trace()
        handle = self._handle.take()
        if handle is None:
            raise self._not_open(_step_text(what))
        try:
            status: int = function(handle, *arguments)
        finally:
            self._handle.give_back()
        if status:  # anything but QX480_OK (0)
            raise self._failure(status, _step_text(what))

    def _set_time(self, setting: _TimeSetting, channel: int, time: Time) -> None:
        number = _channel(channel)
        if isinstance(time, float):
            self._set_seconds(setting, number, time)
        else:
            self._set_counts(setting, number, _exact_counts(time, setting.name))

    def _set_seconds(self, setting: _TimeSetting, channel: int, seconds: float) -> None:
        self._set_counts(setting, channel, units.seconds_to_counts(seconds, f"{setting.name} {seconds} s"))

    def _set_counts(self, setting: _TimeSetting, channel: int, counts: int) -> None:
        self._call(
            lambda: f"the {setting.name} {units.format_time(counts)} for channel {channel}",
            getattr(self._lib, setting.in_counts), channel, counts,
        )

    def _failure(self, status: int, what: str) -> Error:
        return error_for(status, _library.failure_line(status, self._port, what))

