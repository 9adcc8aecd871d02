"""The exceptions of the package: one class per status of the C library, all under `Error`.

The names, sentences and failure lines of the statuses are the library's; what is
Python's own here is the exception class of each.
"""

from __future__ import annotations

import enum

from . import _library


class Status(enum.IntEnum):
    """The C library's status codes (QX480_OK, QX480_ERR_...), as its header defines them; they never change."""

    OK = 0
    ARGUMENT = -1
    NOT_OPEN = -2
    NO_PORT = -3
    PORT_BUSY = -4
    PERMISSION = -5
    NOT_SERIAL = -6
    SETTINGS = -7
    WRITE = -8
    NO_ANSWER = -9
    BAD_ANSWER = -10
    PORT = -11
    REFUSED = -12
    SHORT_ANSWER = -13
    ECHO = -14
    MEMORY = -15
    INTERNAL = -16
    UNKNOWN_HOST = -17
    CONNECTION_REFUSED = -18
    NO_CONNECTION = -19
    SERVER_CLOSED = -20
    NEGOTIATION = -21


def _known(status: int) -> Status | int:
    """The `Status` of a code, or the code itself when no status has it."""
    try:
        return Status(status)
    except ValueError:
        return status


class Error(Exception):
    """A failure of the device, its port or the library.

    `status` is the C library's code (a `Status` when it is a known one),
    `status_name` its C name ("QX480_ERR_NO_ANSWER"); the message names the
    port and the step that failed.
    """

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.status: Status | int = _known(status)
        self.status_name: str = _library.status_name(status)


class ArgumentError(Error, ValueError):
    """An argument was refused; nothing was sent."""

    def __init__(self, message: str, status: int = Status.ARGUMENT) -> None:
        super().__init__(message, status)


class NotOpenError(Error):
    """The device is closed."""


class PortNotFoundError(Error, FileNotFoundError):
    """Opening: there is no such port."""


class PortBusyError(Error, OSError):
    """Opening: another program holds the port."""


class PortPermissionError(Error, PermissionError):
    """Opening: there is no permission to open the port."""


class NotSerialError(Error, OSError):
    """Opening: the name is not that of a serial port."""


class SettingsError(Error, OSError):
    """Opening: the port refused the baud rate or the line settings."""


class WriteError(Error, TimeoutError):
    """The request was not written in full within the time limit."""


class NoAnswerError(Error, TimeoutError):
    """No answer came within the time limit."""


class BadAnswerError(Error):
    """The answer was corrupted or incomplete."""


class PortError(Error, OSError):
    """The port failed: a hang-up, an unplugged adapter."""


class RefusedError(Error):
    """The device answered no."""


class ShortAnswerError(Error):
    """A query's answer was too short to hold what was asked for."""


class EchoError(Error):
    """A query came back as its own request: a loopback plug or a local echo is on the line."""


class OutOfMemoryError(Error, MemoryError):
    """The library ran out of memory."""


class InternalError(Error):
    """The library failed for a reason of its own."""


class UnknownHostError(Error, ConnectionError):
    """The terminal server's host name is not known."""


class RefusedConnectionError(Error, ConnectionRefusedError):
    """The host refused the connection: nothing listens on that port."""


class NoConnectionError(Error, ConnectionError):
    """The host did not answer, or the network cannot reach it."""


class ServerClosedError(Error, ConnectionError):
    """The server closed the connection: its port is in use, or its device failed."""


class NegotiationError(Error, ConnectionError):
    """The server did not answer, or refused, the RFC 2217 negotiation."""


ERRORS: dict[int, type[Error]] = {
    Status.ARGUMENT: ArgumentError,
    Status.NOT_OPEN: NotOpenError,
    Status.NO_PORT: PortNotFoundError,
    Status.PORT_BUSY: PortBusyError,
    Status.PERMISSION: PortPermissionError,
    Status.NOT_SERIAL: NotSerialError,
    Status.SETTINGS: SettingsError,
    Status.WRITE: WriteError,
    Status.NO_ANSWER: NoAnswerError,
    Status.BAD_ANSWER: BadAnswerError,
    Status.PORT: PortError,
    Status.REFUSED: RefusedError,
    Status.SHORT_ANSWER: ShortAnswerError,
    Status.ECHO: EchoError,
    Status.MEMORY: OutOfMemoryError,
    Status.INTERNAL: InternalError,
    Status.UNKNOWN_HOST: UnknownHostError,
    Status.CONNECTION_REFUSED: RefusedConnectionError,
    Status.NO_CONNECTION: NoConnectionError,
    Status.SERVER_CLOSED: ServerClosedError,
    Status.NEGOTIATION: NegotiationError,
}
"""The exception class of each failure status."""


def error_for(status: int, message: str) -> Error:
    """The exception for a failure status with `message`; `Error` itself for a code the table does not know."""
    return ERRORS.get(status, Error)(message, status)
