"""Times and rates as the qx480 tool reads and prints them, by the C library's own rules.

A time is a decimal number with an optional unit ps, ns (the default), us, µs,
ms or s ("10ns", "1.5 us", "1e3"); it must be a whole number of the device's
10 ps steps: anything finer is refused, never rounded. A rate is a decimal
number with an optional unit Hz (the default), kHz or MHz; the device takes
it as a period of whole 4 ns ticks. The grammar, the rules and the sentence
of every refusal are the library's; what is Python's own here is turning
exact Fractions and Decimals into text the library reads.
"""

from __future__ import annotations

import ctypes
import math
from collections.abc import Callable
from fractions import Fraction

from . import _library
from .errors import ArgumentError, Error, Status, error_for

MAX_COUNTS = 2**64 - 1
"""The longest time the 64-bit wire field holds, in 10 ps steps."""

MAX_TICKS = 2**32 - 1
"""The longest trigger period the 32-bit wire field holds, in 4 ns ticks."""

_TEXT_SIZE = 512


def _encoded(text: str, subject: str) -> bytes:
    if not isinstance(text, str):
        raise TypeError(f"{subject} must be a str such as '10ns' or '1kHz', not {text!r}")
    if "\0" in text:
        raise ArgumentError(f"{subject} {text!r} holds a NUL character")
    return text.encode("utf-8", "surrogatepass")


def _failure(status: int, message: ctypes.Array[ctypes.c_char], subject: str, quoted: bool) -> Error:
    """The error of a refused unit call: the library's sentence after `subject`.

    The sentence starts with what the library was given in single quotes;
    unless `quoted`, that is replaced by `subject`, which names it as the
    caller gave it ("delay 1/3 s").
    """
    sentence = message.value.decode("utf-8", "surrogatepass")
    if status != Status.ARGUMENT:
        return error_for(status, f"{subject}: {_library.status_text(status)}")
    if quoted:
        return ArgumentError(f"{subject} {sentence}")
    return ArgumentError(subject + sentence[sentence.index("' ", 1) + 1 :])


def _checked(call: Callable[..., int], subject: str, quoted: bool, *arguments: object) -> None:
    """Runs a unit call of the library without a message; only a refusal runs it again for its sentence.

    The unit calls have no side effects, so the second call gives the first one's verdict.
    """
    status = call(*arguments, None, 0)
    if status != Status.OK:
        message = ctypes.create_string_buffer(_TEXT_SIZE)
        raise _failure(call(*arguments, message, _TEXT_SIZE), message, subject, quoted)


def _time(text: str, subject: str, quoted: bool) -> int:
    counts = ctypes.c_uint64()
    _checked(_library.library().qx480_parse_time, subject, quoted, _encoded(text, subject), ctypes.byref(counts))
    return counts.value


def _rate(text: str, subject: str, quoted: bool) -> int:
    ticks = ctypes.c_uint32()
    _checked(_library.library().qx480_parse_rate, subject, quoted, _encoded(text, subject), ctypes.byref(ticks), None)
    return ticks.value


def parse_time(text: str, what: str = "time") -> int:
    """The time `text` ("10ns", "1.5 us", "0.01ns", "1e3") in whole 10 ps steps.

    Raises ArgumentError (a ValueError), its message beginning with `what`,
    for what the qx480 tool refuses, in its words: no number, a negative
    time, an unknown unit, a time that is not a whole number of 10 ps steps
    (the message names the two steps around it), one beyond the 64-bit
    wire field.
    """
    return _time(text, what, quoted=True)


def _decimal_text(seconds: Fraction) -> str:
    """A decimal time the library reads as `seconds` exactly when that is a whole 10 ps step (or lies at
    most 12 decimals deep), and otherwise as a time between the same two steps."""
    sign = "-" if seconds < 0 else ""
    picoseconds = abs(seconds) * 10**12
    whole = math.floor(picoseconds)
    digits = f"{whole}e-12" if whole == picoseconds else f"{whole * 10 + 1}e-13"
    return f"{sign}{digits} s"


def exact_counts(seconds: Fraction, subject: str) -> int:
    """An exact time in seconds in whole 10 ps steps; ArgumentError, beginning with `subject`, otherwise."""
    return _time(_decimal_text(seconds), subject, quoted=False)


def seconds_to_counts(seconds: float, subject: str) -> int:
    """A time in seconds as the nearest whole 10 ps step, by the rule of the C library's qx480_set_delay.

    Raises ArgumentError, beginning with `subject`, for a time that is not
    finite, negative, beyond the wire field or not within a thousandth of a
    step of a whole step.
    """
    counts = ctypes.c_uint64()
    _checked(_library.library().qx480_seconds_to_counts, subject, False, seconds, ctypes.byref(counts))
    return counts.value


def parse_rate(text: str) -> int:
    """The internal trigger period for the rate `text` ("1kHz", "2.5 MHz", "1000") in 4 ns ticks.

    The rate is taken as the nearest float, and the period is cut to whole
    ticks as the device's driver does. Raises ArgumentError (a ValueError)
    for what the qx480 tool refuses, in its words: no number, a negative
    rate, an unknown unit, zero, above 250 MHz, below about 0.0582 Hz.
    """
    return _rate(text, "rate", quoted=True)


def hz_to_ticks(hz: float, subject: str) -> int:
    """The period of a rate in hertz in whole 4 ns ticks, cut toward zero, as the C library takes it.

    Raises ArgumentError, beginning with `subject`, for a rate it refuses.
    """
    if math.isinf(hz):
        # Text past every double reads back as the infinity it stands for.
        text = "-1e999" if hz < 0 else "1e999"
    else:
        text = repr(hz)  # the shortest text that reads back as the same float; "nan" is no number
    return _rate(text, subject, quoted=False)


def format_time(counts: int) -> str:
    """A time in 10 ps steps as the tool prints it, exactly: 1 -> "10 ps", 150000 -> "1.5 us", 0 -> "0 ns"."""
    out = ctypes.create_string_buffer(_TEXT_SIZE)
    status = _library.library().qx480_format_time(counts, out, _TEXT_SIZE)
    if status != Status.OK:
        raise error_for(status, f"{counts} steps: {_library.status_text(status)}")
    return out.value.decode("utf-8")


def describe_period(ticks: int) -> tuple[str, float]:
    """A trigger period as the tool describes it, "1 kHz (period 250000 x 4 ns)", and the rate it gives in hertz."""
    hz = ctypes.c_double()
    out = ctypes.create_string_buffer(_TEXT_SIZE)
    status = _library.library().qx480_describe_period(ticks, ctypes.byref(hz), out, _TEXT_SIZE)
    if status != Status.OK:
        raise error_for(status, f"period {ticks}: {_library.status_text(status)}")
    return out.value.decode("utf-8"), hz.value
