// The qx480 tool's parsers on their own: Windows port names, the command line
// and its table, and usage errors.
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

namespace {

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
        EXPECT_EQ(r.status, qx480::EXIT_USAGE);
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
        "      --baud N            line speed (default 115200)",
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
    const std::pair<const char*, std::size_t> counts[] = {{"status", 0},  {"delay", 2},   {"width", 2}, {"channel", 2},
                                                          {"output", 1},  {"trigger", 1}, {"rate", 1},  {"fire", 0},
                                                          {"temp", 0},    {"apply", 1},   {"save", 1},  {"diff", 1},
                                                          {"diagram", 0}, {"ports", 0},   {"panel", 0}};
    for (const auto& c : counts) {
        const qx480::tool::Command* command = qx480::tool::FindCommand(c.first);
        ASSERT_NE(command, nullptr) << c.first;
        EXPECT_EQ(command->ArgumentCount(), c.second) << c.first;
    }
    EXPECT_EQ(qx480::tool::Commands().size(), std::size(counts));
    EXPECT_EQ(qx480::tool::FindCommand("help"), nullptr);
    EXPECT_EQ(qx480::tool::FindCommand("jump"), nullptr);
}

}  // namespace
