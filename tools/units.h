// Times and rates as a lab engineer types them ("1.5us", "1e3ns", "10 kHz"),
// parsed exactly: the number is kept as decimal digits and a power of ten,
// never as floating point, until it is turned into the wire's units.
#pragma once

#include <cstdint>
#include <string>

namespace qx480 {
namespace tool {

enum class UnitError {
    None,
    NotANumber,    // no digits, or stray characters
    Negative,      // a leading minus sign
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
UnitError ParseTime(const std::string& text, std::uint64_t& counts);

// For a time that ParseTime refuses as NotWholeStep: the whole 10 ps count
// just below it. False for any other text, and when that count is beyond
// 64 bits.
bool StepBelow(const std::string& text, std::uint64_t& below);

// FREQ: a decimal number with an optional unit Hz (the default), kHz or MHz.
// On success `ticks` holds the internal trigger period in 4 ns ticks, the
// conversion the driver uses; `ticks` is untouched on failure.
UnitError ParseRate(const std::string& text, std::uint32_t& ticks);
// The same, with the rate asked for in `requestedHz` (correctly rounded).
UnitError ParseRate(const std::string& text, std::uint32_t& ticks, double& requestedHz);

// For a time or rate refused as UnknownUnit whose unit differs from a known
// one only in case ("10nS", "1khz"): that unit ("ns", "kHz"); else "".
std::string TimeUnitMeant(const std::string& text);
std::string RateUnitMeant(const std::string& text);

// A 10 ps count in the largest unit that keeps a whole part, exactly, with no
// trailing zeros: 1 -> "10 ps", 150000 -> "1.5 us", 0 -> "0 ns".
std::string FormatTime(std::uint64_t counts);

// FormatTime as one word, the way a time is typed: 150000 -> "1.5us".
std::string TimeWord(std::uint64_t counts);

// The trigger period of `ticks` 4 ns ticks in 10 ps counts.
std::uint64_t TicksToCounts(std::uint32_t ticks);

// A 10 ps count as exact decimal nanoseconds: 1 -> "0.01".
std::string FormatNanoseconds(std::uint64_t counts);

// Shortest text that reads back as the same value; "nan"/"inf" as such.
std::string FormatNumber(double value);
std::string FormatNumber(float value);

// A rate in the largest of Hz, kHz, MHz that keeps a whole part, to nine
// significant digits: 1000 -> "1 kHz", 3012048.19... -> "3.01204819 MHz".
std::string FormatRate(double hz);

// The shortest rate, typed as one word ("1kHz", "3.01204819MHz"), that
// ParseRate reads back as `ticks` (not 0).
std::string RateWord(std::uint32_t ticks);

}  // namespace tool
}  // namespace qx480
