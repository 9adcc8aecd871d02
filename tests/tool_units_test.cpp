// The qx480 tool's parsers on their own: times exact to the 10 ps step, rates
// to 4 ns ticks, the printed forms, Windows port names and the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>

#include "command_line.h"
#include "command_table.h"
#include "platform.h"
#include "qx480_tool.h"
#include "report.h"
#include "tool_output.h"
#include "units.h"

namespace {

using qx480::tool::UnitError;

constexpr std::uint64_t kUntouched = 0xDEADBEEF;

std::uint64_t Counts(const std::string& text) {
    std::uint64_t counts = kUntouched;
    EXPECT_EQ(qx480::tool::ParseTime(text, counts), UnitError::None) << text;
    return counts;
}

UnitError TimeError(const std::string& text) {
    std::uint64_t counts = kUntouched;
    const UnitError e = qx480::tool::ParseTime(text, counts);
    EXPECT_EQ(counts, kUntouched) << text << ": a refused time must not be stored";
    return e;
}

std::uint32_t Ticks(const std::string& text) {
    std::uint32_t ticks = 7;
    EXPECT_EQ(qx480::tool::ParseRate(text, ticks), UnitError::None) << text;
    return ticks;
}

UnitError RateError(const std::string& text) {
    std::uint32_t ticks = 7;
    const UnitError e = qx480::tool::ParseRate(text, ticks);
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
    EXPECT_EQ(qx480::tool::FormatTime(0), "0 ns");
    EXPECT_EQ(qx480::tool::FormatTime(1), "10 ps");
    EXPECT_EQ(qx480::tool::FormatTime(99), "990 ps");
    EXPECT_EQ(qx480::tool::FormatTime(100), "1 ns");
    EXPECT_EQ(qx480::tool::FormatTime(101), "1.01 ns");
    EXPECT_EQ(qx480::tool::FormatTime(150000), "1.5 us");
    EXPECT_EQ(qx480::tool::FormatTime(100000000001), "1.00000000001 s");
    EXPECT_EQ(qx480::tool::FormatTime(UINT64_MAX), "184467440.73709551615 s");
    for (std::uint64_t counts : {0ull, 1ull, 99ull, 100ull, 12345ull, 100000ull, 123456789ull, 100000000000ull,
                                 999999999999ull, 18446744073709551615ull}) {
        EXPECT_EQ(Counts(qx480::tool::FormatTime(counts)), counts);
    }
}

TEST(FormatNumbers, GiveExactNanosecondsAndReadableRates) {
    EXPECT_EQ(qx480::tool::FormatNanoseconds(0), "0");
    EXPECT_EQ(qx480::tool::FormatNanoseconds(1), "0.01");
    EXPECT_EQ(qx480::tool::FormatNanoseconds(150), "1.5");
    EXPECT_EQ(qx480::tool::FormatNanoseconds(UINT64_MAX), "184467440737095516.15");
    EXPECT_EQ(qx480::tool::FormatRate(1000.0), "1 kHz");
    EXPECT_EQ(qx480::tool::FormatRate(250e6), "250 MHz");
    EXPECT_EQ(qx480::tool::FormatRate(999.5), "999.5 Hz");
    EXPECT_EQ(qx480::tool::FormatNumber(29.59375f), "29.59375");
    EXPECT_EQ(qx480::tool::FormatNumber(0.1f), "0.1");
}

TEST(WindowsDevicePath, PrefixesComOneToTwoHundredFiftySixOnly) {
    using qx480::tool::WindowsDevicePath;
    EXPECT_EQ(WindowsDevicePath("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(WindowsDevicePath("COM9"), "\\\\.\\COM9");
    EXPECT_EQ(WindowsDevicePath("com10"), "\\\\.\\com10");
    EXPECT_EQ(WindowsDevicePath("COM256"), "\\\\.\\COM256");
    for (const char* unchanged :
         {"COM0", "COM257", "COM01", "COM", "COMX", "COM1a", "COM9999", "\\\\.\\COM5", "/dev/ttyUSB0", "LPT1", ""}) {
        EXPECT_EQ(WindowsDevicePath(unchanged), unchanged);
    }
}

struct Parsed {
    bool ok;
    qx480::tool::Invocation inv;
    std::string error;
};

// The name of the command a step carries out.
std::string CommandName(const qx480::tool::Step& step) {
    return step.command != nullptr ? step.command->name : "(no command)";
}

Parsed Parse(const std::vector<std::string>& args) {
    Parsed p;
    p.ok = qx480::tool::ParseCommandLine(args, p.inv, p.error);
    return p;
}

TEST(CommandLine, ChecksAndConvertsEveryCommandInOrder) {
    const Parsed p =
        Parse({"--port", "COM12",  "delay", "3",       "0.01ns",   "width", "8",    "1.5us", "channel", "3",
               "on",     "output", "off",   "trigger", "software", "rate",  "1kHz", "fire",  "temp",    "status"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.inv.port, "COM12");
    EXPECT_EQ(p.inv.baud, qx480::tool::DEFAULT_BAUD);
    ASSERT_EQ(p.inv.steps.size(), 9u);
    const char* const names[] = {"delay", "width", "channel", "output", "trigger", "rate", "fire", "temp", "status"};
    for (std::size_t i = 0; i < p.inv.steps.size(); ++i) EXPECT_EQ(CommandName(p.inv.steps[i]), names[i]) << i;
    EXPECT_EQ(p.inv.steps[0].channel, 3);
    EXPECT_EQ(p.inv.steps[0].counts, 1u);
    EXPECT_EQ(p.inv.steps[0].typed, "delay 3 0.01ns");
    EXPECT_EQ(p.inv.steps[1].channel, 8);
    EXPECT_EQ(p.inv.steps[1].counts, 150000u);
    EXPECT_TRUE(p.inv.steps[2].on);
    EXPECT_FALSE(p.inv.steps[3].on);
    EXPECT_EQ(p.inv.steps[4].mode, QX480TriggerMode::Software);
    EXPECT_EQ(p.inv.steps[5].ticks, 250000u);
}

TEST(CommandLine, TakesEveryTriggerModeByItsName) {
    for (const auto& m : qx480::TRIGGER_MODES) {
        const Parsed p = Parse({"trigger", m.name});
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.inv.steps.at(0).mode, m.mode) << m.name;
    }
}

TEST(CommandLine, PortsRunsAloneAndNowhereElse) {
    const Parsed p = Parse({"ports"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.inv.kind, qx480::tool::Invocation::Kind::Alone);
    ASSERT_NE(p.inv.alone, nullptr);
    EXPECT_EQ(p.inv.alone->name, "ports");
    EXPECT_TRUE(p.inv.steps.empty());
    const Parsed later = Parse({"temp", "ports"});
    EXPECT_FALSE(later.ok);
    EXPECT_EQ(later.error, "unknown command 'ports' (see qx480 --help)");
}

TEST(CommandLine, TakesOptionsAnywhereAndInBothSpellings) {
    const Parsed p = Parse({"temp", "--baud=9600", "--trace", "fire", "--json", "--port=/dev/ttyACM1"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.inv.baud, 9600);
    EXPECT_TRUE(p.inv.trace);
    EXPECT_TRUE(p.inv.json);
    EXPECT_EQ(p.inv.port, "/dev/ttyACM1");
    EXPECT_EQ(p.inv.steps.size(), 2u);
}

TEST(CommandLine, NamesWhatIsWrongInOneLine) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given (see qx480 --help)"},
        {{"delay", "9", "10ns"}, "channel 9 is outside 1 to 8"},
        {{"width", "0", "10ns"}, "channel 0 is outside 1 to 8"},
        {{"channel", "x", "on"}, "channel 'x' is not a number from 1 to 8"},
        {{"delay", "1", "5ps"}, "delay '5ps' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"},
        {{"width", "1", "-5ns"}, "width '-5ns' is negative"},
        {{"delay", "1"}, "delay needs CH TIME (see qx480 help delay)"},
        {{"channel", "2", "maybe"}, "channel 2 takes on or off, not 'maybe'"},
        {{"output", "1"}, "output takes on or off, not '1'"},
        {{"trigger", "now"}, "trigger takes internal, external or software, not 'now'"},
        {{"rate", "0"}, "rate '0' is zero: give a rate above 0 Hz"},
        {{"jump"}, "unknown command 'jump' (see qx480 --help)"},
        {{"--speed", "9600", "temp"}, "unknown option '--speed' (see qx480 --help)"},
        {{"--baud", "0", "temp"}, "--baud needs a positive whole number, not '0'"},
        {{"--baud", "99999999999", "temp"}, "--baud needs a positive whole number, not '99999999999'"},
        {{"temp", "--port"}, "--port needs a value"},
        {{"--simulate", "--port", "COM3", "temp"}, "--simulate and --port cannot be used together"},
        {{"ports", "temp"}, "ports runs alone: qx480 ports"},
    };
    for (const auto& c : cases) {
        const Parsed p = Parse(c.first);
        EXPECT_FALSE(p.ok) << c.second;
        EXPECT_EQ(p.error, c.second);
    }
}

using tooltest::Result;
using tooltest::RunTool;

TEST(RunQx480, UsageErrorsExitTwoWithOneLineAndNothingElse) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"delay", "1", "5ps"}, {"status", "delay", "9", "1ns"}, {"help", "jump"}, {"--bogus"}}) {
        const Result r = RunTool(args);
        EXPECT_EQ(r.status, qx480::tool::EXIT_USAGE);
        EXPECT_EQ(r.out, "");
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

TEST(RunQx480, HelpShowsTheUsageAndEachCommandWithExamples) {
    for (const char* option : {"--help", "-h"}) {
        const Result r = RunTool({option});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("usage: qx480 --port PORT"), std::string::npos);
        EXPECT_NE(r.out.find("exit status:\n  0  success\n"), std::string::npos);
    }
    EXPECT_EQ(RunTool({"help"}).out, RunTool({"--help"}).out);
    for (const char* command :
         {"status", "delay", "width", "channel", "output", "trigger", "rate", "fire", "temp", "ports"}) {
        const Result r = RunTool({"help", command});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.compare(0, 13 + std::string(command).size(), std::string("usage: qx480 ") + command), 0)
            << r.out;
        if (std::string(command) != "ports") {
            EXPECT_NE(r.out.find("example: qx480"), std::string::npos) << command;
        }
    }
}

TEST(RunQx480, HelpListsEveryCommandOfTheTableWithItsArguments) {
    const std::vector<std::string> usage = tooltest::Lines(RunTool({"--help"}).out);
    const std::vector<std::string> expected{
        "  delay CH TIME                   channel delay (TIME: 10ns, 1.5us, 0.01ns, 1e3ns, ...)",
        "  channel CH on|off               one channel's output",
        "  trigger internal|external|software",
        "  ports                           the serial ports of this machine",
        "      --baud N         line speed (default 115200)",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(std::find(usage.begin(), usage.end(), line), usage.end()) << line;
    }
    for (const qx480::tool::Command& c : qx480::tool::Commands()) {
        const std::string start = "  " + c.Usage();
        const auto listed = std::find_if(usage.begin(), usage.end(), [&](const std::string& line) {
            return line.compare(0, start.size(), start) == 0;
        });
        EXPECT_NE(listed, usage.end()) << c.name;
        const Result help = RunTool({"help", c.name});
        EXPECT_EQ(tooltest::Lines(help.out).at(0), "usage: qx480 " + c.Usage());
    }
}

TEST(CommandTable, CountsTheArgumentsItsUsageNames) {
    const std::pair<const char*, std::size_t> counts[] = {
        {"status", 0}, {"delay", 2}, {"width", 2}, {"channel", 2}, {"output", 1}, {"trigger", 1}, {"rate", 1},
        {"fire", 0},   {"temp", 0},  {"apply", 1}, {"save", 1},    {"diff", 1},   {"diagram", 0}, {"ports", 0}};
    for (const auto& c : counts) {
        const qx480::tool::Command* command = qx480::tool::FindCommand(c.first);
        ASSERT_NE(command, nullptr) << c.first;
        EXPECT_EQ(command->ArgumentCount(), c.second) << c.first;
    }
    EXPECT_EQ(qx480::tool::Commands().size(), std::size(counts));
    EXPECT_EQ(qx480::tool::FindCommand("help"), nullptr);
    EXPECT_EQ(qx480::tool::FindCommand("jump"), nullptr);
}

TEST(RateText, GivesTheRateAndThePeriodInTicks) {
    EXPECT_EQ(qx480::tool::RateText(250000), "1 kHz (period 250000 x 4 ns)");
    EXPECT_EQ(qx480::tool::RateText(83), "3.01204819 MHz (period 83 x 4 ns)");
    EXPECT_EQ(qx480::tool::RateText(0), "none (period 0 x 4 ns)");
    EXPECT_EQ(qx480::tool::RateText(UINT32_MAX), "0.0582076609 Hz (period 4294967295 x 4 ns)");
}

}  // namespace
