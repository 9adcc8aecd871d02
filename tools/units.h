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

// FREQ: a decimal number with an optional unit Hz (the default), kHz or MHz.
// On success `ticks` holds the internal trigger period in 4 ns ticks, the
// conversion the driver uses; `ticks` is untouched on failure.
UnitError ParseRate(const std::string& text, std::uint32_t& ticks);

// A 10 ps count in the largest unit that keeps a whole part, exactly, with no
// trailing zeros: 1 -> "10 ps", 150000 -> "1.5 us", 0 -> "0 ns".
std::string FormatTime(std::uint64_t counts);

// A 10 ps count as exact decimal nanoseconds, a JSON number: 1 -> "0.01".
std::string FormatNanoseconds(std::uint64_t counts);

// Shortest text that reads back as the same value; "nan"/"inf" as such.
std::string FormatNumber(double value);
std::string FormatNumber(float value);

// A rate in the largest of Hz, kHz, MHz that keeps a whole part, to nine
// significant digits: 1000 -> "1 kHz", 3012048.19... -> "3.01204819 MHz".
std::string FormatRate(double hz);

}  // namespace tool
}  // namespace qx480
