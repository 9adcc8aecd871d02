"""A Tango device server for the QX480DDG: the generator inside a distributed control system.

Started as ``qx480-tango INSTANCE [Tango options]``, or without a Tango
database as ``qx480-tango INSTANCE -nodb -port 10000 -dlist lab/dg/1`` (then
``Port`` and ``BaudRate`` come from ``-dlist`` devices' defaults or, with a
database, from the device properties).

Device class ``QX480DDG``; properties ``Port`` (required) and ``BaudRate``
(default 115200). Attributes ``Delay1``..``Delay8`` and ``Width1``..``Width8``
(seconds) and ``TriggerRate`` (hertz) are read back from the device's timing
block, one exchange for all that one request reads, and push a change event
after each write the device accepted; ``Output1``..``Output8``,
``GlobalOutput`` and ``TriggerSource`` are memorized, since the device does not
report them; ``Temperature`` is read from the device, polled by the server
and pushes change events. Commands: ``Fire``, and Tango's own ``Init``, which
reads the properties again, closes the port and opens it.

State is ON while the device answers and FAULT, with the reason in Status,
when the port cannot be opened or an exchange fails; the next call that
succeeds brings it back to ON. A port that failed (a hang-up, an unplugged
adapter) or never opened is opened again at the next call, the poll of
``Temperature`` included, so the server comes back by itself. Each time the
port opens, the memorized settings are sent to the device again.
"""

from __future__ import annotations

import enum
import functools
import sys
from collections.abc import Callable, Sequence
from typing import Any, TypeVar

from tango import AttrWriteType, DevFailed, DevState, Except, Util
from tango.server import Device, attribute, command, device_property, run

from .device import CHANNELS, Device as Generator, Timing, TriggerSource
from .errors import Error, PortError, RefusedError

T = TypeVar("T")

DEFAULT_BAUD = 115200
TEMPERATURE_POLL_MS = 1000
TEMPERATURE_CHANGE = "0.1"  # degC: a change event each time the reading moves this far


class TriggerSourceLabel(enum.IntEnum):
    """The labels of the TriggerSource attribute, in the device's order."""

    Internal = 0
    External = 1
    Software = 2


_SOURCES = {label: TriggerSource[label.name.upper()] for label in TriggerSourceLabel}


def _refuse(reason: str, message: str, origin: str) -> None:
    """Raises the Tango error (DevFailed) a client sees."""
    Except.throw_exception(reason, message, origin)


class _Server(Device):
    """The behaviour behind the QX480DDG class; the attributes are added by `_device_class`."""

    Port = device_property(dtype=str, mandatory=True, doc="the serial port: /dev/ttyUSB0, COM3")
    BaudRate = device_property(dtype=int, default_value=DEFAULT_BAUD, doc="the line's rate")

    # ---- Life ----

    def init_device(self) -> None:
        """Opens the port and sends the memorized settings; FAULT with the reason when either fails."""
        Device.init_device(self)
        self._generator: Generator | None = None
        self._settings: dict[str, Any] = self._memorized_settings()
        self._timing: Timing | None = None
        self._timing_error: Error | None = None
        for name in _PUSHED_ATTRIBUTES:
            self.set_change_event(name, True, False)
        self._connect()

    def delete_device(self) -> None:
        """Closes the port."""
        self._disconnect()

    def _memorized_settings(self) -> dict[str, Any]:
        """The memorized attributes' values that the Tango database holds (none without a database)."""
        if not Util._UseDb:  # -nodb; PyTango offers no public way to ask
            return {}
        try:
            stored = Util.instance().get_database().get_device_attribute_property(self.get_name(), list(_MEMORIZED))
        except DevFailed as failed:
            self.error_stream(f"the memorized settings could not be read: {failed.args[0].desc}")
            return {}
        settings = {}
        for name, properties in stored.items():
            if "__value" not in properties:
                continue
            text = properties["__value"][0]
            try:
                settings[name] = _MEMORIZED[name](text)
            except ValueError:
                self.error_stream(f"{name}: the memorized value {text!r} is not one it takes; left out")
        return settings

    def _connect(self) -> Generator | None:
        """Opens the port and sends the memorized settings again; None, and FAULT, when either fails."""
        try:
            generator = Generator(self.Port, baud=self.BaudRate)
        except Error as error:
            self._fault(error)
            return None
        try:
            for name, value in self._settings_in_sending_order():
                _SENDERS[name](generator, value)
        except Error as error:
            generator.close()
            self._fault(error)
            return None
        self._generator = generator
        self._answering()
        return generator

    def _settings_in_sending_order(self) -> list[tuple[str, Any]]:
        """The memorized settings in a safe order: the global output off first, or on last."""
        order = list(_MEMORIZED)
        if self._settings.get("GlobalOutput") is False:
            order.insert(0, order.pop())
        return [(name, self._settings[name]) for name in order if name in self._settings]

    def _disconnect(self) -> None:
        if self._generator is not None:
            self._generator.close()
            self._generator = None

    def _answering(self) -> None:
        self.set_state(DevState.ON)
        self.set_status(f"The device on {self.Port} answers.")

    def _fault(self, error: Error) -> None:
        self.set_state(DevState.FAULT)
        self.set_status(str(error))

    def _exchange(self, origin: str, call: Callable[[Generator], T]) -> T:
        """Runs one call on the generator, keeping State and Status true; a failure raises DevFailed."""
        generator = self._generator or self._connect()
        if generator is None:
            _refuse("QX480_NotOpen", self.get_status(), origin)
        try:
            result = call(generator)
        except (ValueError, TypeError) as refused:
            _refuse("QX480_BadValue", str(refused), origin)
        except RefusedError as refused:
            self._answering()  # it said no, so it answers
            _refuse(refused.status_name, str(refused), origin)
        except Error as error:
            self._fault(error)
            if isinstance(error, PortError):
                self._disconnect()
            _refuse(error.status_name, str(error), origin)
        self._answering()
        return result

    # ---- The timing block: one exchange per request ----

    def read_attr_hardware(self, attr_list: Sequence[int]) -> None:
        """Reads the timing block once when the request reads any attribute that it holds."""
        self._timing = None
        self._timing_error = None
        names = {self.get_device_attr().get_attr_by_ind(index).get_name() for index in attr_list}
        if names & _TIMING_ATTRIBUTES:
            try:
                self._timing = self._exchange("QX480DDG.read_attr_hardware", lambda g: g.read_timing())
            except Exception as failed:  # noqa: BLE001 - reported by each attribute of the request
                self._timing_error = failed

    def _timing_block(self) -> Timing:
        if self._timing_error is not None:
            raise self._timing_error
        if self._timing is None:
            self._timing = self._exchange("QX480DDG.read_timing", lambda g: g.read_timing())
        return self._timing

    # ---- Attributes ----

    def _read_delay(self, channel: int) -> float:
        return self._timing_block().channels[channel - 1].delay

    def _write_delay(self, channel: int, seconds: float) -> None:
        self._exchange(f"QX480DDG.write_Delay{channel}", lambda g: g.set_delay(channel, seconds))
        self.push_change_event(f"Delay{channel}", seconds)

    def _read_width(self, channel: int) -> float:
        return self._timing_block().channels[channel - 1].width

    def _write_width(self, channel: int, seconds: float) -> None:
        self._exchange(f"QX480DDG.write_Width{channel}", lambda g: g.set_width(channel, seconds))
        self.push_change_event(f"Width{channel}", seconds)

    def _read_output(self, channel: int) -> bool:
        return self._settings.get(f"Output{channel}", False)

    def _write_output(self, channel: int, on: bool) -> None:
        self._write_setting(f"Output{channel}", on)

    def read_GlobalOutput(self) -> bool:
        return self._settings.get("GlobalOutput", False)

    def write_GlobalOutput(self, on: bool) -> None:
        self._write_setting("GlobalOutput", on)

    def read_TriggerSource(self) -> TriggerSourceLabel:
        return self._settings.get("TriggerSource", TriggerSourceLabel.Internal)

    def write_TriggerSource(self, value: int) -> None:
        try:
            label = TriggerSourceLabel(value)
        except ValueError:
            _refuse("QX480_BadValue", f"trigger source {value} is not one of 0 to 2", "QX480DDG.write_TriggerSource")
        self._write_setting("TriggerSource", label)

    def _write_setting(self, name: str, value: Any) -> None:
        """Sends a memorized setting; kept, and sent again whenever the port opens, once the device took it."""
        self._exchange(f"QX480DDG.write_{name}", lambda g: _SENDERS[name](g, value))
        self._settings[name] = value
        self.push_change_event(name, value)

    def read_TriggerRate(self) -> float:
        return self._timing_block().trigger_hz

    def write_TriggerRate(self, hz: float) -> None:
        rate = self._exchange("QX480DDG.write_TriggerRate", lambda g: g.set_trigger_rate(hz))
        self.push_change_event("TriggerRate", rate)

    def read_Temperature(self) -> float:
        return self._exchange("QX480DDG.read_Temperature", lambda g: g.read_temperature())

    # ---- Commands ----

    @command(doc_in="none", doc_out="none")
    def Fire(self) -> None:
        """Fires one software trigger."""
        self._exchange("QX480DDG.Fire", lambda g: g.fire())


def _channel_methods(kind: str, channel: int) -> dict[str, Any]:
    """The read and write methods of one per-channel attribute: bound to the class, as Tango wants."""
    read = getattr(_Server, f"_read_{kind}")
    write = getattr(_Server, f"_write_{kind}")

    def read_attribute(self: _Server) -> Any:
        return read(self, channel)

    def write_attribute(self: _Server, value: Any) -> None:
        write(self, channel, value)

    return {f"read_{kind}{channel}": read_attribute, f"write_{kind}{channel}": write_attribute}


# name, kind of the methods, Tango type, unit, memorized, what it is
_CHANNEL_ATTRIBUTES = (
    ("Delay", "delay", float, "s", False, "the channel's delay"),
    ("Width", "width", float, "s", False, "the channel's pulse width"),
    ("Output", "output", bool, "", True, "the channel's output, as last written"),
)

_TIMING_ATTRIBUTES = frozenset(
    [f"{name}{n}" for name in ("Delay", "Width") for n in CHANNELS] + ["TriggerRate"]
)


def _parse_on(text: str) -> bool:
    if text not in ("true", "false"):
        raise ValueError(text)
    return text == "true"


# The memorized attributes, in the order the server sends them when the port
# opens (the global output last), with how the database spells their values.
_MEMORIZED: dict[str, Callable[[str], Any]] = {
    **{f"Output{n}": _parse_on for n in CHANNELS},
    "TriggerSource": lambda text: TriggerSourceLabel(int(text)),
    "GlobalOutput": _parse_on,
}

# How each memorized attribute's value goes to the device.
_SENDERS: dict[str, Callable[[Generator, Any], None]] = {
    **{f"Output{n}": functools.partial(lambda n, g, on: g.set_channel_output(n, on), n) for n in CHANNELS},
    "TriggerSource": lambda g, label: g.set_trigger_source(_SOURCES[label]),
    "GlobalOutput": lambda g, on: g.set_output(on),
}

# What pushes a change event without polling: each write the device took.
_PUSHED_ATTRIBUTES = sorted(_TIMING_ATTRIBUTES) + list(_MEMORIZED)


def _device_class() -> type[Device]:
    """The QX480DDG class: _Server with its per-channel and device-wide attributes.

    Memorized attributes are not hw_memorized: the server itself sends their
    values each time the port opens, also when the device was away at start.
    """
    namespace: dict[str, Any] = {"__doc__": __doc__}
    for name, kind, dtype, unit, memorized, doc in _CHANNEL_ATTRIBUTES:
        for channel in CHANNELS:
            namespace.update(_channel_methods(kind, channel))
            namespace[f"{name}{channel}"] = attribute(
                name=f"{name}{channel}",
                dtype=dtype,
                unit=unit,
                access=AttrWriteType.READ_WRITE,
                memorized=memorized,
                fget=f"read_{kind}{channel}",
                fset=f"write_{kind}{channel}",
                doc=f"{doc} (channel {channel})",
            )
    namespace["GlobalOutput"] = attribute(
        dtype=bool, access=AttrWriteType.READ_WRITE, memorized=True, doc="the global output"
    )
    namespace["TriggerSource"] = attribute(
        dtype=TriggerSourceLabel,
        access=AttrWriteType.READ_WRITE,
        memorized=True,
        doc="where triggers come from",
    )
    namespace["TriggerRate"] = attribute(
        dtype=float, unit="Hz", access=AttrWriteType.READ_WRITE, doc="the internal trigger rate the device reports"
    )
    namespace["Temperature"] = attribute(
        dtype=float,
        unit="degC",
        polling_period=TEMPERATURE_POLL_MS,
        abs_change=TEMPERATURE_CHANGE,
        archive_abs_change=TEMPERATURE_CHANGE,
        doc="the device temperature, polled by the server (the period is the polling configuration's)",
    )
    return type("QX480DDG", (_Server,), namespace)


QX480DDG = _device_class()


def main(args: Sequence[str] | None = None) -> int:
    """Runs the server: ``qx480-tango INSTANCE [Tango options]``."""
    run((QX480DDG,), args=list(sys.argv if args is None else args))
    return 0
