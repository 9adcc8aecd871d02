#include "units.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

namespace qx480 {
namespace units {
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
constexpr int NS = DecimalExponent(COUNTS_PER_NS);
constexpr int PS = -DecimalExponent(PS_PER_COUNT);

// Times in powers of ten of the 10 ps count, largest first. Of the names
// that share a power the first is the one printed; "" is the default.
const std::vector<Unit> kTimeUnits{{"s", NS + 9},  {"ms", NS + 6}, {"us", NS + 3}, {"µs", NS + 3},
                                   {"μs", NS + 3}, {"ns", NS},     {"", NS},       {"ps", PS}};
// Rates in powers of ten of 1 Hz, in the same way.
const std::vector<Unit> kRateUnits{{"MHz", 6}, {"kHz", 3}, {"Hz", 0}, {"", 0}};

constexpr double COUNTS_PER_SECOND = COUNTS_PER_NS * NS_PER_SECOND;
constexpr double WIRE_FIELD_END = 18446744073709551616.0;  // 2^64
// How far from a whole 10 ps step a time in seconds may lie, in steps.
constexpr double STEP_TOLERANCE = 1e-3;

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

// The number at the start of `text` as written, its digits not yet
// normalised; `unitAt` is where the unit starts, after any spaces.
struct RawNumber {
    std::string whole;
    std::string fraction;
    long long exponent = 0;
    std::size_t unitAt = 0;
};

// "number [spaces]": NotANumber, Negative or None.
UnitError SplitNumber(const std::string& text, RawNumber& out) {
    std::size_t pos = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++pos;
    out.whole = TakeDigits(text, pos);
    if (pos < text.size() && text[pos] == '.') out.fraction = TakeDigits(text, ++pos);
    if (out.whole.empty() && out.fraction.empty()) return UnitError::NotANumber;
    if (!TakeExponent(text, pos, out.exponent)) return UnitError::NotANumber;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    out.unitAt = pos;
    return negative ? UnitError::Negative : UnitError::None;
}

// "number [spaces] unit" with the unit looked up in `units`.
UnitError ParseQuantity(const std::string& text, const std::vector<Unit>& units, Decimal& out) {
    RawNumber raw;
    const UnitError split = SplitNumber(text, raw);
    if (split != UnitError::None) return split;
    const Unit* unit = FindUnit(units, text.substr(raw.unitAt));
    if (unit == nullptr) return StartsLikeANumber(text, raw.unitAt) ? UnitError::NotANumber : UnitError::UnknownUnit;

    Decimal d;
    d.digits = raw.whole + raw.fraction;
    d.digits.erase(0, d.digits.find_first_not_of('0'));
    d.exponent = raw.exponent - static_cast<long long>(raw.fraction.size()) + unit->powerOfTen;
    while (!d.digits.empty() && d.digits.back() == '0') {
        d.digits.pop_back();
        ++d.exponent;
    }
    out = std::move(d);
    return UnitError::None;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Milli and mega are 10^9 apart: "mHz" or "Ms", spelt right but for the
// prefix, is another unit (millihertz, megaseconds), not a slip of case.
bool ChangesMilliOrMega(const std::string& typed, const std::string& name) {
    const bool prefixes = !typed.empty() && !name.empty() && typed[0] != name[0] &&
                          (typed[0] == 'm' || typed[0] == 'M') && (name[0] == 'm' || name[0] == 'M');
    return prefixes && typed.compare(1, std::string::npos, name, 1, std::string::npos) == 0;
}

// The unit of `units` that the unit of `text` spells in other case; "" for none.
std::string UnitMeant(const std::string& text, const std::vector<Unit>& units) {
    RawNumber raw;
    if (SplitNumber(text, raw) != UnitError::None) return "";
    const std::string typed = text.substr(raw.unitAt);
    if (typed.empty() || FindUnit(units, typed) != nullptr) return "";
    for (const Unit& u : units) {
        if (SameIgnoringCase(typed, u.name) && !ChangesMilliOrMega(typed, u.name)) return u.name;
    }
    return "";
}

// The whole part of `d`, its digits below the point cut off.
Decimal WholePart(const Decimal& d) {
    if (d.exponent >= 0) return d;
    Decimal whole;
    const auto cut = static_cast<std::size_t>(std::min<long long>(-d.exponent, kExponentLimit));
    if (cut < d.digits.size()) whole.digits = d.digits.substr(0, d.digits.size() - cut);
    return whole;
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

// `hz` in the largest of Hz, kHz, MHz that keeps a whole part, to `digits`
// significant digits, with `between` between the number and the unit.
std::string RateIn(double hz, int digits, const char* between) {
    static const std::vector<Unit> printed = PrintedUnits(kRateUnits);
    const Unit* unit = &printed.back();
    for (const Unit& u : printed) {
        if (hz >= PowerOfTen(u.powerOfTen)) {
            unit = &u;
            break;
        }
    }
    return Significant(hz / PowerOfTen(unit->powerOfTen), digits) + between + unit->name;
}

// The shortest word for `hz`, nine to seventeen digits, that reads back as
// `ticks`; "" for none.
std::string RateWordNear(double hz, std::uint32_t ticks) {
    for (int digits = 9; digits <= std::numeric_limits<double>::max_digits10; ++digits) {
        const std::string word = RateIn(hz, digits, "");
        std::uint32_t back = 0;
        if (ParseRate(word, back) == UnitError::None && back == ticks) return word;
    }
    return "";
}

}  // namespace

UnitError ParseTime(const std::string& text, std::uint64_t& counts) {
    Decimal d;
    const UnitError error = ParseQuantity(text, kTimeUnits, d);
    if (error != UnitError::None) return error;
    const UnitError whole = ToInteger(d, counts);
    // Past the wire field no nearer step would do: that is what to say.
    std::uint64_t below;
    if (whole == UnitError::NotWholeStep && ToInteger(WholePart(d), below) == UnitError::TooLarge) {
        return UnitError::TooLarge;
    }
    return whole;
}

UnitError ParseRate(const std::string& text, std::uint32_t& ticks) {
    double requestedHz;
    return ParseRate(text, ticks, requestedHz);
}

UnitError ParseRate(const std::string& text, std::uint32_t& ticks, double& requestedHz) {
    Decimal d;
    const UnitError error = ParseQuantity(text, kRateUnits, d);
    if (error != UnitError::None) return error;
    if (d.digits.empty()) return UnitError::Zero;
    const double hz = ToDouble(d);
    std::uint32_t t;
    if (!FrequencyToWire(hz, t)) return UnitError::TooSlow;
    if (t == 0) return UnitError::TooFast;
    ticks = t;
    requestedHz = hz;
    return UnitError::None;
}

std::string TimeUnitMeant(const std::string& text) { return UnitMeant(text, kTimeUnits); }

std::string RateUnitMeant(const std::string& text) { return UnitMeant(text, kRateUnits); }

UnitError SecondsToCounts(double seconds, std::uint64_t& counts) {
    if (!std::isfinite(seconds)) return UnitError::NotANumber;
    if (seconds < 0) return UnitError::Negative;
    const double steps = seconds * COUNTS_PER_SECOND;
    const double nearest = std::round(steps);
    if (nearest >= WIRE_FIELD_END) return UnitError::TooLarge;
    // Past 2^53 steps a double holds no fraction of a step; below it the
    // product may carry the rounding of `seconds` itself.
    const bool whole = std::fabs(steps - nearest) <= STEP_TOLERANCE || nearest / COUNTS_PER_SECOND == seconds;
    if (!whole) return UnitError::NotWholeStep;
    counts = static_cast<std::uint64_t>(nearest);
    return UnitError::None;
}

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// For a time refused as NotWholeStep: the whole 10 ps count just below it.
// False when that count is beyond 64 bits.
bool StepBelow(const std::string& text, std::uint64_t& below) {
    Decimal d;
    if (ParseQuantity(text, kTimeUnits, d) != UnitError::None || d.exponent >= 0 || d.digits.empty()) return false;
    return ToInteger(WholePart(d), below) == UnitError::None;
}

// ": the nearest are 0ns and 10ps" for a time just above `below` counts.
std::string NearestSteps(std::uint64_t below) {
    if (below == UINT64_MAX) return ": the nearest is " + TimeWord(below);
    return ": the nearest are " + TimeWord(below) + " and " + TimeWord(below + 1);
}

// ": did you mean ns?" for a unit typed in other case.
std::string UnitHint(const std::string& meant) { return meant.empty() ? "" : ": did you mean " + meant + "?"; }

// The sentence on `subject`, a time refused with `e`; `detail` ends it for
// NotWholeStep and UnknownUnit, and `notATime` says what a time should be.
std::string TimeSentence(UnitError e, const std::string& subject, const std::string& detail, const char* notATime) {
    switch (e) {
        case UnitError::Negative: return subject + " is negative";
        case UnitError::NotWholeStep: return subject + " is not a whole number of " + FormatTime(1) + " steps" + detail;
        case UnitError::TooLarge:
            return subject + " is beyond the longest time the device takes, " + FormatTime(UINT64_MAX);
        case UnitError::UnknownUnit:
            return subject + " has an unknown unit" +
                   (detail.empty() ? ": use ps, ns (the default), us, ms or s" : detail);
        default: return subject + " is not a time: " + notATime;
    }
}

constexpr const char* TIME_GRAMMAR = "give a number with ps, ns (the default), us, ms or s";

}  // namespace

std::string TimeRefusal(UnitError e, const std::string& text) {
    std::string detail;
    std::uint64_t below;
    if (e == UnitError::NotWholeStep && StepBelow(text, below)) detail = NearestSteps(below);
    if (e == UnitError::UnknownUnit) detail = UnitHint(TimeUnitMeant(text));
    return TimeSentence(e, Quoted(text), detail, TIME_GRAMMAR);
}

std::string SecondsRefusal(UnitError e, double seconds) {
    const std::string detail = e == UnitError::NotWholeStep
                                   ? NearestSteps(static_cast<std::uint64_t>(std::floor(seconds * COUNTS_PER_SECOND)))
                                   : "";
    return TimeSentence(e, Quoted(FormatNumber(seconds) + " s"), detail, "give a finite number of seconds");
}

std::string RateRefusal(UnitError e, const std::string& text) {
    const std::string subject = Quoted(text);
    switch (e) {
        case UnitError::Negative: return subject + " is negative";
        case UnitError::Zero: return subject + " is zero: give a rate above 0 Hz";
        case UnitError::TooFast:
            return subject + " is above " + FormatRate(WireToFrequency(1)) + ", the fastest the device's " +
                   FormatNumber(NS_PER_TICK) + " ns period steps reach";
        case UnitError::TooSlow:
            return subject + " is below " + FormatRate(WireToFrequency(UINT32_MAX)) +
                   ", the slowest the device's period reaches";
        case UnitError::UnknownUnit: {
            const std::string hint = UnitHint(RateUnitMeant(text));
            return subject + " has an unknown unit" + (hint.empty() ? ": use Hz (the default), kHz or MHz" : hint);
        }
        default: return subject + " is not a rate: give a number with Hz (the default), kHz or MHz";
    }
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

std::string TimeWord(std::uint64_t counts) {
    std::string word = FormatTime(counts);
    word.erase(word.find(' '), 1);
    return word;
}

std::uint64_t TicksToCounts(std::uint32_t ticks) {
    constexpr auto COUNTS_PER_TICK =
        static_cast<std::uint64_t>(NS_PER_TICK) * static_cast<std::uint64_t>(COUNTS_PER_NS);
    return ticks * COUNTS_PER_TICK;
}

std::string FormatNanoseconds(std::uint64_t counts) {
    return ExactQuotient(counts, static_cast<std::uint64_t>(COUNTS_PER_NS));
}

std::string FormatNumber(double value) { return Shortest(value); }

std::string FormatNumber(float value) { return Shortest(value); }

std::string FormatRate(double hz) { return RateIn(hz, 9, " "); }

std::string RateText(std::uint32_t ticks) {
    const std::string period = "period " + std::to_string(ticks) + " x " + FormatNumber(NS_PER_TICK) + " ns";
    const std::string rate = ticks == 0 ? "none" : FormatRate(WireToFrequency(ticks));
    return rate + " (" + period + ")";
}

// The rate itself when some rounding of it reads back; else a rate from the
// middle of the ticks' range, far from both of its edges.
std::string RateWord(std::uint32_t ticks) {
    const std::string exact = RateWordNear(WireToFrequency(ticks), ticks);
    if (!exact.empty()) return exact;
    const double middle = NS_PER_SECOND / ((static_cast<double>(ticks) + 0.5) * NS_PER_TICK);
    return RateWordNear(middle, ticks);
}

}  // namespace units
}  // namespace qx480
