#include "units.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "commands.h"

namespace qx480 {
namespace tool {
namespace {

// An exact decimal: the value is digits x 10^exponent; digits carry no
// leading zeros and are empty for zero.
struct Decimal {
    std::string digits;
    long long exponent = 0;
};

struct Unit {
    const char* name;
    int powerOfTen;  // of the quantity's base step
};

// The exponent of a power of ten: 100 -> 2.
constexpr int DecimalExponent(std::int64_t power) {
    int exponent = 0;
    for (; power >= 10; power /= 10) ++exponent;
    return exponent;
}

// One nanosecond is 10^NS counts of the wire, one picosecond 10^PS.
constexpr int NS = DecimalExponent(units::COUNTS_PER_NS);
constexpr int PS = -DecimalExponent(units::PS_PER_COUNT);

// Times in powers of ten of the 10 ps count, largest first. Of the names
// that share a power the first is the one printed; "" is the default.
const std::vector<Unit> kTimeUnits{{"s", NS + 9},  {"ms", NS + 6}, {"us", NS + 3}, {"µs", NS + 3},
                                   {"μs", NS + 3}, {"ns", NS},     {"", NS},       {"ps", PS}};
// Rates in powers of ten of 1 Hz, in the same way.
const std::vector<Unit> kRateUnits{{"MHz", 6}, {"kHz", 3}, {"Hz", 0}, {"", 0}};

// An exponent beyond this is past every wire field, so saturating there is exact enough.
constexpr long long kExponentLimit = 1000000;

// The units a quantity is printed in, largest first: the first name of each power.
std::vector<Unit> PrintedUnits(const std::vector<Unit>& units) {
    std::vector<Unit> printed;
    for (const Unit& u : units) {
        if (*u.name != '\0' && (printed.empty() || printed.back().powerOfTen != u.powerOfTen)) printed.push_back(u);
    }
    return printed;
}

std::uint64_t WholePowerOfTen(int exponent) {
    std::uint64_t power = 1;
    for (int i = 0; i < exponent; ++i) power *= 10;
    return power;
}

double PowerOfTen(int exponent) { return static_cast<double>(WholePowerOfTen(exponent)); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string TakeDigits(const std::string& text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
    return text.substr(start, pos - start);
}

// [eE][+-]digits, saturated at kExponentLimit. False for an 'e' with no digits.
bool TakeExponent(const std::string& text, std::size_t& pos, long long& exponent) {
    exponent = 0;
    if (pos >= text.size() || (text[pos] != 'e' && text[pos] != 'E')) return true;
    ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    const std::string digits = TakeDigits(text, pos);
    if (digits.empty()) return false;
    for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), kExponentLimit);
    if (negative) exponent = -exponent;
    return true;
}

const Unit* FindUnit(const std::vector<Unit>& units, const std::string& name) {
    for (const Unit& u : units) {
        if (name == u.name) return &u;
    }
    return nullptr;
}

// What follows the number is more number ("1.2.3", "5-3"), not a unit.
bool StartsLikeANumber(const std::string& text, std::size_t pos) {
    const char c = text[pos];
    return IsDigit(c) || c == '.' || c == '-' || c == '+';
}

// "number [spaces] unit" with the unit looked up in `units`.
UnitError ParseQuantity(const std::string& text, const std::vector<Unit>& units, Decimal& out) {
    std::size_t pos = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++pos;
    const std::string whole = TakeDigits(text, pos);
    std::string fraction;
    if (pos < text.size() && text[pos] == '.') fraction = TakeDigits(text, ++pos);
    if (whole.empty() && fraction.empty()) return UnitError::NotANumber;
    long long exponent;
    if (!TakeExponent(text, pos, exponent)) return UnitError::NotANumber;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (negative) return UnitError::Negative;

    const Unit* unit = FindUnit(units, text.substr(pos));
    if (unit == nullptr) return StartsLikeANumber(text, pos) ? UnitError::NotANumber : UnitError::UnknownUnit;

    Decimal d;
    d.digits = whole + fraction;
    d.digits.erase(0, d.digits.find_first_not_of('0'));
    d.exponent = exponent - static_cast<long long>(fraction.size()) + unit->powerOfTen;
    while (!d.digits.empty() && d.digits.back() == '0') {
        d.digits.pop_back();
        ++d.exponent;
    }
    out = std::move(d);
    return UnitError::None;
}

// Exactly as an unsigned 64-bit integer, when it is one.
UnitError ToInteger(const Decimal& d, std::uint64_t& value) {
    if (d.digits.empty()) {
        value = 0;
        return UnitError::None;
    }
    if (d.exponent < 0) return UnitError::NotWholeStep;
    const int maxDigits = std::numeric_limits<std::uint64_t>::digits10 + 1;
    if (static_cast<long long>(d.digits.size()) + d.exponent > maxDigits) return UnitError::TooLarge;
    std::uint64_t v = 0;
    const std::string all = d.digits + std::string(static_cast<std::size_t>(d.exponent), '0');
    for (char c : all) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return UnitError::TooLarge;
        v = v * 10 + digit;
    }
    value = v;
    return UnitError::None;
}

// Correctly rounded by strtod; the text has no decimal point, so no locale enters.
double ToDouble(const Decimal& d) {
    const std::string text = d.digits + "e" + std::to_string(d.exponent);
    return std::strtod(text.c_str(), nullptr);
}

// Digits of `value` / `scale` with the remainder as a fraction, trailing zeros trimmed.
std::string ExactQuotient(std::uint64_t value, std::uint64_t scale) {
    std::string text = std::to_string(value / scale);
    std::uint64_t rest = value % scale;
    if (rest == 0) return text;
    std::string fraction;
    for (std::uint64_t s = scale / 10; s > 0; s /= 10) {
        fraction += static_cast<char>('0' + rest / s);
        rest %= s;
    }
    fraction.erase(fraction.find_last_not_of('0') + 1);
    return text + "." + fraction;
}

template <class T>
std::string Shortest(T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string Significant(double value, int digits) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    return std::string(buffer, result.ptr);
}

}  // namespace

UnitError ParseTime(const std::string& text, std::uint64_t& counts) {
    Decimal d;
    const UnitError error = ParseQuantity(text, kTimeUnits, d);
    if (error != UnitError::None) return error;
    return ToInteger(d, counts);
}

UnitError ParseRate(const std::string& text, std::uint32_t& ticks) {
    Decimal d;
    const UnitError error = ParseQuantity(text, kRateUnits, d);
    if (error != UnitError::None) return error;
    if (d.digits.empty()) return UnitError::Zero;
    std::uint32_t t;
    if (!units::FrequencyToWire(ToDouble(d), t)) return UnitError::TooSlow;
    if (t == 0) return UnitError::TooFast;
    ticks = t;
    return UnitError::None;
}

std::string FormatTime(std::uint64_t counts) {
    if (counts == 0) return "0 ns";
    static const std::vector<Unit> printed = PrintedUnits(kTimeUnits);
    for (std::size_t i = 0; i + 1 < printed.size(); ++i) {
        const std::uint64_t scale = WholePowerOfTen(printed[i].powerOfTen);
        if (counts >= scale) return ExactQuotient(counts, scale) + " " + printed[i].name;
    }
    const Unit& smallest = printed.back();
    return std::to_string(counts * WholePowerOfTen(-smallest.powerOfTen)) + " " + smallest.name;
}

std::string FormatNanoseconds(std::uint64_t counts) {
    return ExactQuotient(counts, static_cast<std::uint64_t>(units::COUNTS_PER_NS));
}

std::string FormatNumber(double value) { return Shortest(value); }

std::string FormatNumber(float value) { return Shortest(value); }

std::string FormatRate(double hz) {
    static const std::vector<Unit> printed = PrintedUnits(kRateUnits);
    for (std::size_t i = 0; i + 1 < printed.size(); ++i) {
        const double scale = PowerOfTen(printed[i].powerOfTen);
        if (hz >= scale) return Significant(hz / scale, 9) + " " + printed[i].name;
    }
    return Significant(hz / PowerOfTen(printed.back().powerOfTen), 9) + " " + printed.back().name;
}

}  // namespace tool
}  // namespace qx480
