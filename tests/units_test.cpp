// Times and rates as people write them: the grammar, exact to the 10 ps step,
// rates to 4 ns ticks, seconds to the nearest step, the printed forms and the
// sentence of each refusal.
#include "units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using qx480::units::UnitError;

constexpr std::uint64_t kUntouched = 0xDEADBEEF;

std::uint64_t Counts(const std::string& text) {
    std::uint64_t counts = kUntouched;
    EXPECT_EQ(qx480::units::ParseTime(text, counts), UnitError::None) << text;
    return counts;
}

UnitError TimeError(const std::string& text) {
    std::uint64_t counts = kUntouched;
    const UnitError e = qx480::units::ParseTime(text, counts);
    EXPECT_EQ(counts, kUntouched) << text << ": a refused time must not be stored";
    return e;
}

std::uint32_t Ticks(const std::string& text) {
    std::uint32_t ticks = 7;
    EXPECT_EQ(qx480::units::ParseRate(text, ticks), UnitError::None) << text;
    return ticks;
}

UnitError RateError(const std::string& text) {
    std::uint32_t ticks = 7;
    const UnitError e = qx480::units::ParseRate(text, ticks);
    EXPECT_EQ(ticks, 7u) << text;
    return e;
}

TEST(ParseTime, TakesEveryUnitWithNanosecondsAsTheDefault) {
    EXPECT_EQ(Counts("10ns"), 1000u);
    EXPECT_EQ(Counts("10"), 1000u);
    EXPECT_EQ(Counts("10ps"), 1u);
    EXPECT_EQ(Counts("1.5us"), 150000u);
    EXPECT_EQ(Counts("1.5µs"), 150000u);
    EXPECT_EQ(Counts("1.5μs"), 150000u);  // Greek small mu
    EXPECT_EQ(Counts("2ms"), 200000000u);
    EXPECT_EQ(Counts("3s"), 300000000000u);
    EXPECT_EQ(Counts("100 ns"), 10000u);
}

TEST(ParseTime, IsExactToTheTenPicosecondStepAndRefusesAnythingFiner) {
    EXPECT_EQ(Counts("0.01ns"), 1u);
    EXPECT_EQ(Counts("0.01000000000000000000000000ns"), 1u);
    EXPECT_EQ(Counts("20ps"), 2u);
    EXPECT_EQ(Counts("1.23456789012s"), 123456789012u);
    EXPECT_EQ(TimeError("5ps"), UnitError::NotWholeStep);
    EXPECT_EQ(TimeError("15ps"), UnitError::NotWholeStep);
    EXPECT_EQ(TimeError("0.001ns"), UnitError::NotWholeStep);
    EXPECT_EQ(TimeError("1.000000000001s"), UnitError::NotWholeStep);
}

TEST(ParseTime, AcceptsExponentsAndLeadingZeros) {
    EXPECT_EQ(Counts("1e3ns"), 100000u);
    EXPECT_EQ(Counts("1E3"), 100000u);
    EXPECT_EQ(Counts("1e+3ns"), 100000u);
    EXPECT_EQ(Counts("1e-2ns"), 1u);
    EXPECT_EQ(Counts("2.5e-1us"), 25000u);
    EXPECT_EQ(Counts("007ns"), 700u);
    EXPECT_EQ(Counts(".5ns"), 50u);
    EXPECT_EQ(Counts("5.ns"), 500u);
    EXPECT_EQ(Counts("0"), 0u);
    EXPECT_EQ(Counts("0e999999999999999999ns"), 0u);
    EXPECT_EQ(TimeError("2.5e-2ns"), UnitError::NotWholeStep);
}

TEST(ParseTime, ReachesTheWholeWireFieldAndNotOneStepBeyond) {
    EXPECT_EQ(Counts("184467440737095516.15ns"), UINT64_MAX);
    EXPECT_EQ(Counts("184467440.73709551615s"), UINT64_MAX);
    EXPECT_EQ(TimeError("184467440737095516.16ns"), UnitError::TooLarge);
    EXPECT_EQ(TimeError("1e30s"), UnitError::TooLarge);
    EXPECT_EQ(TimeError("1e999999999999999999999s"), UnitError::TooLarge);
    EXPECT_EQ(TimeError("100000000000000000000000000ps"), UnitError::TooLarge);
}

TEST(ParseTime, RefusesNegativesAndWhatIsNotATime) {
    EXPECT_EQ(TimeError("-5ns"), UnitError::Negative);
    EXPECT_EQ(TimeError("-0"), UnitError::Negative);
    EXPECT_EQ(TimeError("-1e3us"), UnitError::Negative);
    for (const char* bad : {"", "ns", ".", "-", "1e", "1e+ns", "1.2.3", "1..2", "+5ns", "5-3", "e3", " 5ns"}) {
        EXPECT_EQ(TimeError(bad), UnitError::NotANumber) << bad;
    }
    for (const char* unit : {"10xs", "10 NS", "10ns ", "10sec", "10 u s", "1,5ns", "10Hz", "0x10"}) {
        EXPECT_EQ(TimeError(unit), UnitError::UnknownUnit) << unit;
    }
}

TEST(ParseRate, ConvertsToWholeFourNanosecondTicks) {
    EXPECT_EQ(Ticks("1000"), 250000u);
    EXPECT_EQ(Ticks("1000Hz"), 250000u);
    EXPECT_EQ(Ticks("1kHz"), 250000u);
    EXPECT_EQ(Ticks("2.5MHz"), 100u);
    EXPECT_EQ(Ticks("3MHz"), 83u);  // the period is cut to whole ticks
    EXPECT_EQ(Ticks("250MHz"), 1u);
    EXPECT_EQ(Ticks("0.1Hz"), 2500000000u);
    EXPECT_EQ(Ticks("1e3 Hz"), 250000u);
}

TEST(ParseRate, RefusesRatesThePeriodFieldCannotCarry) {
    EXPECT_EQ(RateError("0"), UnitError::Zero);
    EXPECT_EQ(RateError("0.000kHz"), UnitError::Zero);
    EXPECT_EQ(RateError("250.000001MHz"), UnitError::TooFast);
    EXPECT_EQ(RateError("1e999999MHz"), UnitError::TooFast);
    EXPECT_EQ(RateError("0.0582Hz"), UnitError::TooSlow);
    EXPECT_EQ(RateError("1e-999999Hz"), UnitError::TooSlow);
    EXPECT_EQ(RateError("-1kHz"), UnitError::Negative);
    EXPECT_EQ(RateError("1mHz"), UnitError::UnknownUnit);
    EXPECT_EQ(RateError("1s"), UnitError::UnknownUnit);
    EXPECT_EQ(RateError("fast"), UnitError::NotANumber);
    EXPECT_EQ(RateError("1.2.3kHz"), UnitError::NotANumber);
}

TEST(FormatTime, UsesTheLargestUnitWithAWholePartAndReadsBackExactly) {
    EXPECT_EQ(qx480::units::FormatTime(0), "0 ns");
    EXPECT_EQ(qx480::units::FormatTime(1), "10 ps");
    EXPECT_EQ(qx480::units::FormatTime(99), "990 ps");
    EXPECT_EQ(qx480::units::FormatTime(100), "1 ns");
    EXPECT_EQ(qx480::units::FormatTime(101), "1.01 ns");
    EXPECT_EQ(qx480::units::FormatTime(150000), "1.5 us");
    EXPECT_EQ(qx480::units::FormatTime(100000000001), "1.00000000001 s");
    EXPECT_EQ(qx480::units::FormatTime(UINT64_MAX), "184467440.73709551615 s");
    for (std::uint64_t counts : {0ull, 1ull, 99ull, 100ull, 12345ull, 100000ull, 123456789ull, 100000000000ull,
                                 999999999999ull, 18446744073709551615ull}) {
        EXPECT_EQ(Counts(qx480::units::FormatTime(counts)), counts);
    }
}

TEST(FormatNumbers, GiveExactNanosecondsAndReadableRates) {
    EXPECT_EQ(qx480::units::FormatNanoseconds(0), "0");
    EXPECT_EQ(qx480::units::FormatNanoseconds(1), "0.01");
    EXPECT_EQ(qx480::units::FormatNanoseconds(150), "1.5");
    EXPECT_EQ(qx480::units::FormatNanoseconds(UINT64_MAX), "184467440737095516.15");
    EXPECT_EQ(qx480::units::FormatRate(1000.0), "1 kHz");
    EXPECT_EQ(qx480::units::FormatRate(250e6), "250 MHz");
    EXPECT_EQ(qx480::units::FormatRate(999.5), "999.5 Hz");
    EXPECT_EQ(qx480::units::FormatNumber(29.59375f), "29.59375");
    EXPECT_EQ(qx480::units::FormatNumber(0.1f), "0.1");
}

TEST(RateText, GivesTheRateAndThePeriodInTicks) {
    EXPECT_EQ(qx480::units::RateText(250000), "1 kHz (period 250000 x 4 ns)");
    EXPECT_EQ(qx480::units::RateText(83), "3.01204819 MHz (period 83 x 4 ns)");
    EXPECT_EQ(qx480::units::RateText(0), "none (period 0 x 4 ns)");
    EXPECT_EQ(qx480::units::RateText(UINT32_MAX), "0.0582076609 Hz (period 4294967295 x 4 ns)");
}

TEST(RateWord, ReadsBackAsItsPeriod) {
    EXPECT_EQ(qx480::units::RateWord(250000), "1kHz");
    EXPECT_EQ(qx480::units::RateWord(100), "2.5MHz");
    EXPECT_EQ(qx480::units::RateWord(83), "3.01204819MHz");
    for (std::uint32_t ticks : {1u, 2u, 3u, 7u, 83u, 999u, 3333333u, 12345679u, 2500000000u, 4294967294u, UINT32_MAX}) {
        std::uint32_t back = 0;
        const std::string word = qx480::units::RateWord(ticks);
        EXPECT_EQ(qx480::units::ParseRate(word, back), qx480::units::UnitError::None) << word;
        EXPECT_EQ(back, ticks) << word;
    }
}

// Each refusal's sentence: it names the text and says why.
TEST(Refusals, NameTheTextAndSayWhy) {
    const struct {
        const char* text;
        const char* sentence;
    } times[] = {
        {"5ps", "'5ps' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"},
        {"184467440737095516.151ns",
         "'184467440737095516.151ns' is not a whole number of 10 ps steps: the nearest is 184467440.73709551615s"},
        {"1e30s", "'1e30s' is beyond the longest time the device takes, 184467440.73709551615 s"},
        {"1e30.5s", "'1e30.5s' is not a time: give a number with ps, ns (the default), us, ms or s"},
        {"-5ns", "'-5ns' is negative"},
        {"10nS", "'10nS' has an unknown unit: did you mean ns?"},
        {"10Ms", "'10Ms' has an unknown unit: use ps, ns (the default), us, ms or s"},
    };
    for (const auto& t : times) {
        std::uint64_t counts = kUntouched;
        const UnitError e = qx480::units::ParseTime(t.text, counts);
        ASSERT_NE(e, UnitError::None) << t.text;
        EXPECT_EQ(qx480::units::TimeRefusal(e, t.text), t.sentence);
    }
    const struct {
        const char* text;
        const char* sentence;
    } rates[] = {
        {"0", "'0' is zero: give a rate above 0 Hz"},
        {"300MHz", "'300MHz' is above 250 MHz, the fastest the device's 4 ns period steps reach"},
        {"0.05Hz", "'0.05Hz' is below 0.0582076609 Hz, the slowest the device's period reaches"},
        {"1khz", "'1khz' has an unknown unit: did you mean kHz?"},
        {"1mHz", "'1mHz' has an unknown unit: use Hz (the default), kHz or MHz"},
        {"-1kHz", "'-1kHz' is negative"},
        {"fast", "'fast' is not a rate: give a number with Hz (the default), kHz or MHz"},
    };
    for (const auto& r : rates) {
        std::uint32_t ticks = 7;
        const UnitError e = qx480::units::ParseRate(r.text, ticks);
        ASSERT_NE(e, UnitError::None) << r.text;
        EXPECT_EQ(qx480::units::RateRefusal(e, r.text), r.sentence);
    }
}

std::uint64_t CountsOfSeconds(double seconds) {
    std::uint64_t counts = kUntouched;
    EXPECT_EQ(qx480::units::SecondsToCounts(seconds, counts), UnitError::None) << seconds;
    return counts;
}

UnitError SecondsError(double seconds) {
    std::uint64_t counts = kUntouched;
    const UnitError e = qx480::units::SecondsToCounts(seconds, counts);
    EXPECT_EQ(counts, kUntouched) << seconds << ": a refused time must not be stored";
    return e;
}

TEST(SecondsToCounts, TakesTheNearestStepWithinAThousandthOfIt) {
    EXPECT_EQ(CountsOfSeconds(0.0), 0u);
    EXPECT_EQ(CountsOfSeconds(-0.0), 0u);
    EXPECT_EQ(CountsOfSeconds(1e-11), 1u);
    EXPECT_EQ(CountsOfSeconds(12.34e-9), 1234u);
    EXPECT_EQ(CountsOfSeconds(0.1), 10000000000u);
    // Past 2^53 steps a double is coarser than a step: it stands for its own value.
    EXPECT_EQ(CountsOfSeconds(1e8), 10000000000000000000u);
    EXPECT_EQ(SecondsError(5e-12), UnitError::NotWholeStep);
    EXPECT_EQ(SecondsError(12.345e-9), UnitError::NotWholeStep);
    EXPECT_EQ(SecondsError(-1e-9), UnitError::Negative);
    EXPECT_EQ(SecondsError(std::nan("")), UnitError::NotANumber);
    EXPECT_EQ(SecondsError(std::numeric_limits<double>::infinity()), UnitError::NotANumber);
    EXPECT_EQ(SecondsError(184467440.73709552), UnitError::TooLarge);  // 2^64 steps
}

TEST(SecondsToCounts, RefusalsNameTheSecondsAndTheNearestSteps) {
    EXPECT_EQ(qx480::units::SecondsRefusal(UnitError::NotWholeStep, 5e-12),
              "'5e-12 s' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps");
    EXPECT_EQ(qx480::units::SecondsRefusal(UnitError::NotANumber, std::nan("")),
              "'nan s' is not a time: give a finite number of seconds");
    EXPECT_EQ(qx480::units::SecondsRefusal(UnitError::Negative, -1.0), "'-1 s' is negative");
}

}  // namespace
