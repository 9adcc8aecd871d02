// Times and rates as people write them ("1.5us", "1e3ns", "10 kHz") and as the
// device counts them, with the one sentence that says why one is refused.
// Numbers are parsed exactly: kept as decimal digits and a power of ten, never
// as floating point, until they are turned into the wire's units.
#pragma once

#include <cstdint>
#include <string>

#include "commands.h"
#include "qx480_export.h"

namespace qx480 {
namespace units {

// Why a time or a rate was refused.
enum class UnitError {
    None,
    NotANumber,    // no digits, stray characters, or not finite
    Negative,      // below zero
    UnknownUnit,   // a unit the quantity does not know
    NotWholeStep,  // a time that is not a whole number of 10 ps
    TooLarge,      // beyond the wire field
    Zero,          // a rate of 0 Hz
    TooFast,       // a rate whose period is below one 4 ns tick
    TooSlow,       // a rate whose period does not fit 32 bits of ticks
};

// TIME: a decimal number (decimals and an exponent allowed) with an optional
// unit ps, ns (the default), us, µs, ms or s. On success `counts` holds the
// time in 10 ps counts; a value that is not a whole number of counts is
// refused, never rounded. `counts` is untouched on failure.
QX480_EXPORT UnitError ParseTime(const std::string& text, std::uint64_t& counts);

// FREQ: a decimal number with an optional unit Hz (the default), kHz or MHz,
// taken as the nearest double. On success `ticks` holds the internal trigger
// period in 4 ns ticks (FrequencyToWire) and `requestedHz` the rate asked
// for; both are untouched on failure.
QX480_EXPORT UnitError ParseRate(const std::string& text, std::uint32_t& ticks, double& requestedHz);
QX480_EXPORT UnitError ParseRate(const std::string& text, std::uint32_t& ticks);

// For a time or rate refused as UnknownUnit whose unit differs from a known
// one only in case ("10nS", "1khz"): that unit ("ns", "kHz"); else "".
QX480_EXPORT std::string TimeUnitMeant(const std::string& text);
QX480_EXPORT std::string RateUnitMeant(const std::string& text);

// A time in seconds as the nearest whole 10 ps count. Refused: not finite
// (NotANumber), below zero, at or beyond 2^64 counts (TooLarge), or more than
// a thousandth of a step from a whole step unless the double cannot hold a
// closer time (NotWholeStep). `counts` is untouched on failure.
QX480_EXPORT UnitError SecondsToCounts(double seconds, std::uint64_t& counts);

// The sentence for a refusal of ParseTime, ParseRate or SecondsToCounts. It
// starts with what was given in single quotes ("'5ps'", "'1e-12 s'") and
// says why, naming the nearest steps of a time between two and the unit
// meant by one typed in other case: "'5ps' is not a whole number of 10 ps
// steps: the nearest are 0ns and 10ps".
QX480_EXPORT std::string TimeRefusal(UnitError error, const std::string& text);
QX480_EXPORT std::string RateRefusal(UnitError error, const std::string& text);
QX480_EXPORT std::string SecondsRefusal(UnitError error, double seconds);

// A 10 ps count in the largest unit that keeps a whole part, exactly, with no
// trailing zeros: 1 -> "10 ps", 150000 -> "1.5 us", 0 -> "0 ns".
QX480_EXPORT std::string FormatTime(std::uint64_t counts);

// FormatTime as one word, the way a time is typed: 150000 -> "1.5us".
QX480_EXPORT std::string TimeWord(std::uint64_t counts);

// The trigger period of `ticks` 4 ns ticks in 10 ps counts.
QX480_EXPORT std::uint64_t TicksToCounts(std::uint32_t ticks);

// A 10 ps count as exact decimal nanoseconds: 1 -> "0.01".
QX480_EXPORT std::string FormatNanoseconds(std::uint64_t counts);

// Shortest text that reads back as the same value; "nan"/"inf" as such.
QX480_EXPORT std::string FormatNumber(double value);
QX480_EXPORT std::string FormatNumber(float value);

// A rate in the largest of Hz, kHz, MHz that keeps a whole part, to nine
// significant digits: 1000 -> "1 kHz", 3012048.19... -> "3.01204819 MHz".
QX480_EXPORT std::string FormatRate(double hz);

// A trigger period with its rate: "1 kHz (period 250000 x 4 ns)"; "none" for
// the rate of 0 ticks.
QX480_EXPORT std::string RateText(std::uint32_t ticks);

// The shortest rate, typed as one word ("1kHz", "3.01204819MHz"), that
// ParseRate reads back as `ticks` (not 0).
QX480_EXPORT std::string RateWord(std::uint32_t ticks);

}  // namespace units
}  // namespace qx480
