"""Times and rates as the qx480 tool reads and prints them.

A time is a decimal number with an optional unit ps, ns (the default), us, µs,
ms or s ("10ns", "1.5 us", "1e3"); it is parsed exactly, as decimal digits
and a power of ten, and must be a whole number of the device's 10 ps steps:
anything finer is refused, never rounded. A rate is a decimal number with an
optional unit Hz (the default), kHz or MHz; the device takes it as a period
of whole 4 ns ticks. The refusals are the tool's, word for word.
"""

from __future__ import annotations

import enum
import math
from dataclasses import dataclass
from fractions import Fraction

from .errors import ArgumentError

COUNTS_PER_SECOND = 10**11
"""10 ps steps in one second."""

MAX_COUNTS = 2**64 - 1
"""The longest time the 64-bit wire field holds, in 10 ps steps."""

NS_PER_TICK = 4
"""The internal trigger period's step, in nanoseconds."""

MAX_TICKS = 2**32 - 1
"""The longest trigger period the 32-bit wire field holds, in 4 ns ticks."""

_NS_PER_SECOND = 1e9
# Where the 64-bit wire field ends, as a double: no double lies between
# 2^64 - 2048 and 2^64, so a product below this rounds to at most 2^64 - 1 steps.
_WIRE_FIELD_END = 2.0**64
# An exponent beyond this is past every wire field, so saturating there is exact enough.
_EXPONENT_LIMIT = 1_000_000
_ASCII_DIGITS = frozenset("0123456789")
# What may follow a number and still be number, not unit: "1.2.3", "5-3".
_NUMBER_STARTS = _ASCII_DIGITS | frozenset(".-+")
_ASCII_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")


class UnitError(enum.Enum):
    """Why a time or a rate was refused."""

    NOT_A_NUMBER = "no digits, or stray characters"
    NEGATIVE = "a leading minus sign"
    UNKNOWN_UNIT = "a unit the quantity does not know"
    NOT_WHOLE_STEP = "a time that is not a whole number of 10 ps"
    TOO_LARGE = "beyond the wire field"
    ZERO = "a rate of 0 Hz"
    TOO_FAST = "a rate whose period is below one 4 ns tick"
    TOO_SLOW = "a rate whose period does not fit 32 bits of ticks"


@dataclass(frozen=True)
class _Unit:
    name: str
    power_of_ten: int  # of the quantity's base step


# Times in powers of ten of the 10 ps step, largest first. Of the names that
# share a power the first is the one printed; "" is the default.
_TIME_UNITS = (
    _Unit("s", 11),
    _Unit("ms", 8),
    _Unit("us", 5),
    _Unit("µs", 5),  # micro sign
    _Unit("μs", 5),  # Greek small mu
    _Unit("ns", 2),
    _Unit("", 2),
    _Unit("ps", -1),
)
# Rates in powers of ten of 1 Hz, in the same way.
_RATE_UNITS = (_Unit("MHz", 6), _Unit("kHz", 3), _Unit("Hz", 0), _Unit("", 0))


def _printed_units(units: tuple[_Unit, ...]) -> tuple[_Unit, ...]:
    """The units a quantity is printed in, largest first: the first name of each power."""
    printed: list[_Unit] = []
    for unit in units:
        if unit.name and (not printed or printed[-1].power_of_ten != unit.power_of_ten):
            printed.append(unit)
    return tuple(printed)


_PRINTED_TIME_UNITS = _printed_units(_TIME_UNITS)
_PRINTED_RATE_UNITS = _printed_units(_RATE_UNITS)


@dataclass(frozen=True)
class _Decimal:
    """digits x 10^exponent, digits without leading or trailing zeros; empty for zero."""

    digits: str
    exponent: int


class _Cursor:
    """Reads a text from left to right."""

    def __init__(self, text: str) -> None:
        self.text = text
        self.pos = 0

    def peek(self) -> str:
        """The next character, or "" at the end."""
        return self.text[self.pos] if self.pos < len(self.text) else ""

    def take_if(self, characters: str) -> str:
        """The next character when it is one of `characters` (and moves past it), else ""."""
        c = self.peek()
        if c and c in characters:
            self.pos += 1
            return c
        return ""

    def take_digits(self) -> str:
        """The ASCII digits from here on."""
        start = self.pos
        while self.peek() in _ASCII_DIGITS:
            self.pos += 1
        return self.text[start : self.pos]

    def rest(self) -> str:
        """Everything from here on."""
        return self.text[self.pos :]


def _take_exponent(cursor: _Cursor) -> int | None:
    """[eE][+-]digits saturated at the limit; 0 when there is none, None for an "e" without digits."""
    if not cursor.take_if("eE"):
        return 0
    negative = cursor.take_if("+-") == "-"
    digits = cursor.take_digits()
    if not digits:
        return None
    significant = digits.lstrip("0")
    magnitude = _EXPONENT_LIMIT if len(significant) > len(str(_EXPONENT_LIMIT)) else int(significant or "0")
    magnitude = min(magnitude, _EXPONENT_LIMIT)
    return -magnitude if negative else magnitude


def _find_unit(units: tuple[_Unit, ...], name: str) -> _Unit | None:
    return next((u for u in units if u.name == name), None)


@dataclass(frozen=True)
class _Number:
    """A number as written: its digits before and after the point and its exponent."""

    whole: str
    fraction: str
    exponent: int


def _take_number(cursor: _Cursor) -> _Number | UnitError:
    """"number [spaces]" from the cursor on."""
    negative = cursor.take_if("-") == "-"
    whole = cursor.take_digits()
    fraction = cursor.take_digits() if cursor.take_if(".") else ""
    if not whole and not fraction:
        return UnitError.NOT_A_NUMBER
    exponent = _take_exponent(cursor)
    if exponent is None:
        return UnitError.NOT_A_NUMBER
    while cursor.take_if(" "):
        pass
    return UnitError.NEGATIVE if negative else _Number(whole, fraction, exponent)


def _parse_quantity(text: str, units: tuple[_Unit, ...]) -> _Decimal | UnitError:
    """"number [spaces] unit" with the unit looked up in `units`."""
    cursor = _Cursor(text)
    number = _take_number(cursor)
    if isinstance(number, UnitError):
        return number
    unit = _find_unit(units, cursor.rest())
    if unit is None:
        return UnitError.NOT_A_NUMBER if cursor.peek() in _NUMBER_STARTS else UnitError.UNKNOWN_UNIT
    digits = (number.whole + number.fraction).lstrip("0")
    trimmed = digits.rstrip("0")
    exponent = number.exponent - len(number.fraction) + unit.power_of_ten + len(digits) - len(trimmed)
    return _Decimal(trimmed, exponent)


def _whole_part(d: _Decimal) -> _Decimal:
    """The decimal with its digits below the point cut off."""
    if d.exponent >= 0:
        return d
    kept = len(d.digits) + d.exponent
    return _Decimal(d.digits[:kept] if kept > 0 else "", 0)


def _whole_counts(d: _Decimal) -> int | UnitError:
    """The decimal as a whole count within the wire field; a fraction is refused as such
    unless its whole part is already beyond the field."""
    if not d.digits:
        return 0
    if d.exponent < 0:
        whole = _whole_counts(_whole_part(d))
        return whole if isinstance(whole, UnitError) else UnitError.NOT_WHOLE_STEP
    if len(d.digits) + d.exponent > len(str(MAX_COUNTS)):
        return UnitError.TOO_LARGE
    value = int(d.digits) * 10**d.exponent
    return value if value <= MAX_COUNTS else UnitError.TOO_LARGE


def _ticks_of_hz(hz: float) -> int | UnitError:
    """The period of a rate in whole 4 ns ticks, cut toward zero, as the C library takes it."""
    if not hz > 0:  # also refuses NaN
        return UnitError.TOO_SLOW
    exact = _NS_PER_SECOND / hz * (1.0 / NS_PER_TICK)
    if exact >= MAX_TICKS + 1:
        return UnitError.TOO_SLOW
    ticks = math.trunc(exact)
    return ticks if ticks > 0 else UnitError.TOO_FAST


def _quoted(text: str) -> str:
    return "'" + text + "'"


_TIME_UNIT_LIST = ": use ps, ns (the default), us, ms or s"
_RATE_UNIT_LIST = ": use Hz (the default), kHz or MHz"


def _time_refusal(error: UnitError, subject: str, detail: str = "") -> str:
    """The tool's sentence for a refused time, `subject` first ("delay '5ps'").

    `detail` ends it: the nearest steps of a time between two, the unit that
    an unknown one spells in other case.
    """
    sentences = {
        UnitError.NEGATIVE: "is negative",
        UnitError.NOT_WHOLE_STEP: f"is not a whole number of {format_time(1)} steps{detail}",
        UnitError.TOO_LARGE: f"is beyond the longest time the device takes, {format_time(MAX_COUNTS)}",
        UnitError.UNKNOWN_UNIT: "has an unknown unit" + (detail or _TIME_UNIT_LIST),
    }
    default = "is not a time: give a number with ps, ns (the default), us, ms or s"
    return f"{subject} {sentences.get(error, default)}"


def _rate_refusal(error: UnitError, subject: str, detail: str = "") -> str:
    """The tool's sentence for a refused rate, `subject` first ("rate '0'"); `detail` as for times."""
    sentences = {
        UnitError.NEGATIVE: "is negative",
        UnitError.ZERO: "is zero: give a rate above 0 Hz",
        UnitError.TOO_FAST: (
            f"is above {format_rate(ticks_to_hz(1))}, the fastest the device's {NS_PER_TICK} ns period steps reach"
        ),
        UnitError.TOO_SLOW: f"is below {format_rate(ticks_to_hz(MAX_TICKS))}, the slowest the device's period reaches",
        UnitError.UNKNOWN_UNIT: "has an unknown unit" + (detail or _RATE_UNIT_LIST),
    }
    default = "is not a rate: give a number with Hz (the default), kHz or MHz"
    return f"{subject} {sentences.get(error, default)}"


def _nearest_steps(below: int) -> str:
    """": the nearest are 0ns and 10ps", the whole steps around a time between `below` and `below` + 1,
    as the tool names them; only the one below at the end of the wire field."""
    if below == MAX_COUNTS:
        return f": the nearest is {time_word(below)}"
    return f": the nearest are {time_word(below)} and {time_word(below + 1)}"


def _unit_hint(text: str, units: tuple[_Unit, ...]) -> str:
    """": did you mean ns?" when the unit of `text` is one of `units` in other (ASCII) case; "" otherwise.

    A unit whose m or M would change case gets none: "mHz" is millihertz
    mistyped, not megahertz, and the two lie nine powers of ten apart.
    """
    cursor = _Cursor(text)
    if isinstance(_take_number(cursor), UnitError):
        return ""
    typed = cursor.rest()
    meant = next((u.name for u in units if u.name and _ascii_lower(u.name) == _ascii_lower(typed)), "")
    if not meant or any(a != b and a in "mM" for a, b in zip(typed, meant)):
        return ""
    return f": did you mean {meant}?"


def _ascii_lower(text: str) -> str:
    return text.translate(_ASCII_LOWER)


def parse_time(text: str, what: str = "time") -> int:
    """The time `text` ("10ns", "1.5 us", "0.01ns", "1e3") in whole 10 ps steps.

    Raises ArgumentError (a ValueError), its message beginning with `what`,
    for what the qx480 tool refuses, in its words: no number, a negative
    time, an unknown unit, a time that is not a whole number of 10 ps steps
    (the message names the two steps around it), one beyond the 64-bit
    wire field.
    """
    parsed = _parse_quantity(text, _TIME_UNITS)
    counts = parsed if isinstance(parsed, UnitError) else _whole_counts(parsed)
    if isinstance(counts, int):
        return counts
    if isinstance(parsed, _Decimal):
        below = _whole_counts(_whole_part(parsed))
        detail = _nearest_steps(below) if isinstance(below, int) else ""
    else:
        detail = _unit_hint(text, _TIME_UNITS)
    raise ArgumentError(_time_refusal(counts, f"{what} {_quoted(text)}", detail))


def exact_counts(seconds: Fraction, subject: str) -> int:
    """An exact time in seconds in whole 10 ps steps; ArgumentError, beginning with `subject`, otherwise."""
    steps = seconds * COUNTS_PER_SECOND
    if steps < 0:
        raise ArgumentError(_time_refusal(UnitError.NEGATIVE, subject))
    if math.floor(steps) > MAX_COUNTS:
        raise ArgumentError(_time_refusal(UnitError.TOO_LARGE, subject))
    if steps.denominator != 1:
        raise ArgumentError(_time_refusal(UnitError.NOT_WHOLE_STEP, subject, _nearest_steps(math.floor(steps))))
    return int(steps)


def nearest_counts(seconds: float) -> int:
    """The whole 10 ps step nearest to a finite, non-negative time in seconds, as the C library takes it."""
    return round(seconds * COUNTS_PER_SECOND)


def check_float_time(seconds: float, subject: str) -> None:
    """Raises ArgumentError, beginning with `subject`, for a time in seconds that is not finite, negative or too long.

    Whether it lies on a whole 10 ps step is left to the C library, which
    takes it within a thousandth of a step (see `not_whole_step`).
    """
    if not math.isfinite(seconds):
        raise ArgumentError(f"{subject} is not a time: give a finite number of seconds")
    if seconds < 0:
        raise ArgumentError(_time_refusal(UnitError.NEGATIVE, subject))
    if seconds * COUNTS_PER_SECOND >= _WIRE_FIELD_END:
        raise ArgumentError(_time_refusal(UnitError.TOO_LARGE, subject))


def not_whole_step(seconds: float, subject: str) -> str:
    """The refusal of a time in seconds that lies between two 10 ps steps, with the two."""
    return _time_refusal(UnitError.NOT_WHOLE_STEP, subject, _nearest_steps(math.floor(seconds * COUNTS_PER_SECOND)))


def parse_rate(text: str) -> int:
    """The internal trigger period for the rate `text` ("1kHz", "2.5 MHz", "1000") in 4 ns ticks.

    The rate is taken as the nearest float, and the period is cut to whole
    ticks as the device's driver does. Raises ArgumentError (a ValueError)
    for what the qx480 tool refuses, in its words: no number, a negative
    rate, an unknown unit, zero, above 250 MHz, below about 0.0582 Hz.
    """
    parsed = _parse_quantity(text, _RATE_UNITS)
    if isinstance(parsed, _Decimal):
        ticks = _ticks_of_hz(float(f"{parsed.digits}e{parsed.exponent}")) if parsed.digits else UnitError.ZERO
    else:
        ticks = parsed
    if isinstance(ticks, int):
        return ticks
    raise ArgumentError(_rate_refusal(ticks, f"rate {_quoted(text)}", _unit_hint(text, _RATE_UNITS)))


def hz_to_ticks(hz: float, subject: str) -> int:
    """The period of a rate in hertz in whole 4 ns ticks, cut toward zero, as the C library takes it.

    Raises ArgumentError, beginning with `subject`, for a rate it refuses.
    """
    if math.isnan(hz):
        raise ArgumentError(_rate_refusal(UnitError.NOT_A_NUMBER, subject))
    if hz < 0:
        raise ArgumentError(_rate_refusal(UnitError.NEGATIVE, subject))
    if hz == 0:
        raise ArgumentError(_rate_refusal(UnitError.ZERO, subject))
    ticks = _ticks_of_hz(hz)
    if isinstance(ticks, UnitError):
        raise ArgumentError(_rate_refusal(ticks, subject))
    return ticks


def ticks_to_hz(ticks: int) -> float:
    """The rate a period of `ticks` 4 ns ticks gives; 0.0 for 0 ticks."""
    return _NS_PER_SECOND / (ticks * NS_PER_TICK) if ticks else 0.0


def _exact_quotient(value: int, scale: int) -> str:
    """value / scale (a power of ten) exactly, without trailing zeros."""
    whole, rest = divmod(value, scale)
    if rest == 0:
        return str(whole)
    return f"{whole}.{str(rest).rjust(len(str(scale)) - 1, '0').rstrip('0')}"


def _time_unit(counts: int) -> _Unit:
    """The largest printed unit that keeps a whole part of `counts`; picoseconds below 1 ns."""
    return next((u for u in _PRINTED_TIME_UNITS[:-1] if counts >= 10**u.power_of_ten), _PRINTED_TIME_UNITS[-1])


def _format_time_in(counts: int, unit: _Unit) -> str:
    if unit.power_of_ten < 0:
        return f"{counts * 10**-unit.power_of_ten} {unit.name}"
    return f"{_exact_quotient(counts, 10**unit.power_of_ten)} {unit.name}"


def time_word(counts: int) -> str:
    """`format_time` as one word, the way a time is typed: 150000 -> "1.5us"."""
    return format_time(counts).replace(" ", "", 1)


def format_time(counts: int) -> str:
    """A time in 10 ps steps as the tool prints it, exactly: 1 -> "10 ps", 150000 -> "1.5 us", 0 -> "0 ns"."""
    return "0 ns" if counts == 0 else _format_time_in(counts, _time_unit(counts))


def format_rate(hz: float) -> str:
    """A rate in the largest of Hz, kHz, MHz with a whole part, to nine significant digits: "1 kHz"."""
    unit = next((u for u in _PRINTED_RATE_UNITS[:-1] if hz >= 10**u.power_of_ten), _PRINTED_RATE_UNITS[-1])
    return f"{hz / 10**unit.power_of_ten:.9g} {unit.name}"


def rate_text(ticks: int) -> str:
    """A trigger period as the tool describes it: "1 kHz (period 250000 x 4 ns)"."""
    rate = format_rate(ticks_to_hz(ticks)) if ticks else "none"
    return f"{rate} (period {ticks} x {NS_PER_TICK} ns)"
