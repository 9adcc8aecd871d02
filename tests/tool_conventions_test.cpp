// The qx480 command line's conventions: --version, -p, --, options reported
// as options, hints for the common slips, no port ever guessed, a failed
// standard output, and a help that offers what this platform has.
#include <gtest/gtest.h>

#include <streambuf>
#include <string>
#include <vector>

#include "command_line.h"
#include "qx480.h"
#include "qx480_tool.h"
#include "tool_json.h"
#include "tool_output.h"

namespace {

using tooltest::Result;
using tooltest::RunTool;

std::string UsageError(const std::vector<std::string>& args) {
    qx480::tool::Invocation inv;
    std::string error;
    EXPECT_FALSE(qx480::tool::ParseCommandLine(args, inv, error)) << args.back();
    return error;
}

// A stream whose every write fails, as on a full disk.
class FailingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
};

TEST(ToolConventions, PrintsTheVersionForBothSpellings) {
    for (const char* option : {"--version", "-V"}) {
        const Result r = RunTool({option});
        EXPECT_EQ(r.status, qx480::EXIT_OK);
        EXPECT_EQ(r.out, std::string("qx480 ") + qx480_version() + "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(ToolConventions, TakesDashPAsThePortAndDoubleDashAsTheEndOfTheOptions) {
    qx480::tool::Invocation inv;
    std::string error;
    ASSERT_TRUE(qx480::tool::ParseCommandLine({"-p", "COM3", "--", "delay", "1", "10ns"}, inv, error)) << error;
    EXPECT_EQ(inv.port, "COM3");
    ASSERT_EQ(inv.steps.size(), 1u);
    EXPECT_EQ(inv.steps[0].counts, 1000u);
    EXPECT_EQ(UsageError({"-p", "COM3", "--", "--json", "temp"}), "unknown command '--json' (see qx480 --help)");
    EXPECT_FALSE(qx480::tool::AsksForJson({"--", "--json"}));
    EXPECT_TRUE(qx480::tool::AsksForJson({"temp", "--json", "--"}));
}

TEST(ToolConventions, ReportsAnUnknownOptionAsAnOption) {
    EXPECT_EQ(UsageError({"-x", "temp"}), "unknown option '-x' (see qx480 --help)");
    EXPECT_EQ(UsageError({"--speed=9600", "temp"}), "unknown option '--speed=9600' (see qx480 --help)");
    EXPECT_EQ(UsageError({"--json=yes", "temp"}), "--json takes no value");
    EXPECT_EQ(UsageError({"temp", "-p"}), "--port needs a value");
    EXPECT_EQ(UsageError({"delay", "1", "-5ns"}), "delay '-5ns' is negative") << "a negative time is no option";
}

TEST(ToolConventions, HintsAtTheCommonSlips) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"delay", "1", "10", "ns"}, "unknown command 'ns': a time is one word: write 10ns"},
        {{"width", "2", "1.5", "US"}, "unknown command 'US': a time is one word: write 1.5us"},
        {{"rate", "10", "kHz"}, "unknown command 'kHz': a rate is one word: write 10kHz"},
        {{"rate", "10", "khz"}, "unknown command 'khz': a rate is one word: write 10kHz"},
        {{"delay", "1", "10nS"}, "delay '10nS' has an unknown unit: did you mean ns?"},
        {{"width", "1", "3 MS"}, "width '3 MS' has an unknown unit: did you mean ms?"},
        {{"rate", "1khz"}, "rate '1khz' has an unknown unit: did you mean kHz?"},
        {{"rate", "1Khz"}, "rate '1Khz' has an unknown unit: did you mean kHz?"},
        {{"rate", "2mhz"}, "rate '2mhz' has an unknown unit: did you mean MHz?"},
        {{"rate", "2mHz"}, "rate '2mHz' has an unknown unit: use Hz (the default), kHz or MHz"},  // millihertz
        {{"DELAY", "1", "10ns"}, "unknown command 'DELAY': did you mean delay?"},
        {{"output", "ON"}, "output takes on or off, not 'ON': did you mean on?"},
        {{"channel", "1", "Off"}, "channel 1 takes on or off, not 'Off': did you mean off?"},
        {{"trigger", "Internal"},
         "trigger takes internal, external or software, not 'Internal': did you mean internal?"},
        {{"--JSON", "temp"}, "unknown option '--JSON': did you mean --json?"},
        {{"delay", "1", "1.005ns"},
         "delay '1.005ns' is not a whole number of 10 ps steps: the nearest are 1ns and 1.01ns"},
        {{"delay", "1", "184467440737095516.155ns"},
         "delay '184467440737095516.155ns' is not a whole number of 10 ps steps: the nearest is "
         "184467440.73709551615s"},
        {{"delay", "1", "1000000000000000000000.001ns"},
         "delay '1000000000000000000000.001ns' is beyond the longest time the device takes, 184467440.73709551615 s"},
        {{"--width", "39", "diagram"}, "--width needs a number of columns from 40 to 1000, not '39'"},
        {{"--retries", "x", "temp"}, "--retries needs a whole number from 0 to 100, not 'x'"},
    };
    for (const auto& c : cases) EXPECT_EQ(UsageError(c.first), c.second);
}

TEST(ToolConventions, NeverGuessesAPort) {
    std::ostringstream out, err;
    EXPECT_EQ(qx480::tool::RunQx480({"temp"}, "", out, err), qx480::EXIT_USAGE);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(),
              "no port named: give --port PORT or set QX480_PORT (qx480 ports lists this machine's ports)\n");

    std::ostringstream jsonOut, jsonErr;
    EXPECT_EQ(qx480::tool::RunQx480({"--json", "temp"}, "", jsonOut, jsonErr), qx480::EXIT_USAGE);
    const std::vector<tooltest::json> records = tooltest::Records(jsonOut.str());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0]["step"].is_null());
    EXPECT_EQ(records[0]["ok"], false);
    EXPECT_EQ(records[0]["error"], "usage");
    EXPECT_EQ(records[0]["message"].get<std::string>() + "\n", err.str());
}

TEST(ToolConventions, TakesThePortFromTheEnvironmentWhenPortIsNotGiven) {
    std::ostringstream out, err;
    EXPECT_EQ(qx480::tool::RunQx480({"temp"}, "qx480-no-such-port", out, err), qx480::EXIT_OPEN);
    EXPECT_EQ(err.str(), "no such port qx480-no-such-port\n");
    std::ostringstream out2, err2;
    EXPECT_EQ(qx480::tool::RunQx480({"--port", "qx480-other-port", "temp"}, "qx480-no-such-port", out2, err2),
              qx480::EXIT_OPEN);
    EXPECT_EQ(err2.str(), "no such port qx480-other-port\n") << "--port wins over QX480_PORT";
}

TEST(ToolConventions, AStandardOutputThatFailsGivesStatusOne) {
    FailingBuffer full;
    std::ostream out(&full);
    std::ostringstream err;
    EXPECT_EQ(qx480::tool::RunQx480({"--help"}, "", out, err), qx480::EXIT_LOCAL);
    EXPECT_EQ(err.str(), "cannot write the results to standard output: is the disk full or the pipe closed?\n");
}

TEST(ToolConventions, TheHelpOffersWhatThisPlatformHas) {
    const std::string help = RunTool({"--help"}).out;
    for (const char* documented : {"QX480_PORT", "-p, --port PORT", "--verify", "--retries N", "--width COLUMNS",
                                   "-V, --version", "  4  no valid answer", "  6  a read-back differs"}) {
        EXPECT_NE(help.find(documented), std::string::npos) << documented;
    }
    EXPECT_NE(help.find("qx480 --simulate --json status"), std::string::npos) << "on every platform";
#ifdef _WIN32
    EXPECT_EQ(help.find("/dev/tty"), std::string::npos);
    EXPECT_NE(help.find("--port COM3"), std::string::npos);
#else
    EXPECT_NE(help.find("--port /dev/ttyUSB0"), std::string::npos);
#endif
}

}  // namespace
