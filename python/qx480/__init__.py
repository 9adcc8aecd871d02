"""Control of the QX480DDG eight-channel delay and pulse generator over a serial port.

    import qx480
    with qx480.Device("/dev/ttyUSB0", baud=115200) as dg:
        dg.set_delay(1, "10ns")
        dg.set_width(1, 100e-9)
        dg.set_channel_output(1, True)
        print(dg.read_timing().channels[0].delay_counts)

The package drives the device through the qx480 C library that it carries
(libqx480.so, or libqx480.dll on Windows), loaded from the package's own
folder or from the file the environment variable QX480_LIBRARY names.
"""

from ._library import library_path, version
from .device import (
    CHANNELS,
    TIMEOUT_MS,
    ChannelTiming,
    Device,
    Rate,
    Time,
    Timing,
    TraceCallback,
    TraceDirection,
    TriggerSource,
)
from .errors import (
    ERRORS,
    ArgumentError,
    BadAnswerError,
    EchoError,
    Error,
    InternalError,
    NegotiationError,
    NoAnswerError,
    NoConnectionError,
    NotOpenError,
    NotSerialError,
    OutOfMemoryError,
    PortBusyError,
    PortError,
    PortNotFoundError,
    PortPermissionError,
    RefusedConnectionError,
    RefusedError,
    ServerClosedError,
    SettingsError,
    ShortAnswerError,
    Status,
    UnknownHostError,
    WriteError,
)
from .units import format_time, parse_rate, parse_time


__all__ = [
    "CHANNELS",
    "ERRORS",
    "TIMEOUT_MS",
    "ArgumentError",
    "BadAnswerError",
    "ChannelTiming",
    "Device",
    "EchoError",
    "Error",
    "InternalError",
    "NegotiationError",
    "NoAnswerError",
    "NoConnectionError",
    "NotOpenError",
    "NotSerialError",
    "OutOfMemoryError",
    "PortBusyError",
    "PortError",
    "PortNotFoundError",
    "PortPermissionError",
    "Rate",
    "RefusedConnectionError",
    "RefusedError",
    "ServerClosedError",
    "SettingsError",
    "ShortAnswerError",
    "Status",
    "Time",
    "Timing",
    "TraceCallback",
    "TraceDirection",
    "TriggerSource",
    "UnknownHostError",
    "WriteError",
    "format_time",
    "library_path",
    "parse_rate",
    "parse_time",
    "version",
]
