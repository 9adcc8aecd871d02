// The qx480 program's exit statuses, one per kind of outcome, against the
// simulated device; --verify and --retries in-process.
#include <gtest/gtest.h>

#include <sstream>

#include "command_line.h"
#include "qx480ddg.h"
#include "session.h"
#include "tool_simulator.h"

namespace {

using tooltest::ProgramResult;
using tooltest::Qx480;
using tooltest::Result;
using tooltest::RunShell;
using tooltest::ShellQuoted;

constexpr std::uint8_t READ_TIMING = qx480::CommandCode(QX480Command::READ_TIMING);

class ToolExitStatus : public tooltest::ToolOnSimulator {
protected:
    ProgramResult Program(const std::string& arguments) {
        return RunShell(Qx480("--port " + ShellQuoted(port) + " " + arguments));
    }
    static void ExpectOneLine(const ProgramResult& r, int status, const std::string& line) {
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_EQ(r.err, line + "\n");
    }
    static void ExpectSuccess(const ProgramResult& r) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
};

TEST_F(ToolExitStatus, ZeroOnSuccess) {
    const ProgramResult r = Program("delay 1 10ns");
    ExpectSuccess(r);
    EXPECT_EQ(r.out, "channel 1 delay 10 ns\n");
}

TEST_F(ToolExitStatus, OneWhenStandardOutputIsAFullDisk) {
    const ProgramResult r = RunShell("exec " + Qx480("--port " + ShellQuoted(port) + " status") + " >/dev/full");
    ExpectOneLine(r, 1, "cannot write the results to standard output: is the disk full or the pipe closed?");
    EXPECT_EQ(sim.RequestCount(), 2u) << "the steps ran all the same";
}

TEST_F(ToolExitStatus, NotZeroWhenStandardOutputIsAClosedPipe) {
    const ProgramResult killed = tooltest::RunIntoClosedPipe("exec " + Qx480("--help"));
    EXPECT_EQ(killed.signal, SIGPIPE) << "status " << killed.status;
    const ProgramResult told = tooltest::RunIntoClosedPipe("trap '' PIPE; exec " + Qx480("--help"));
    EXPECT_EQ(told.status, 1);
    EXPECT_EQ(told.err, "cannot write the results to standard output: is the disk full or the pipe closed?\n");
}

TEST_F(ToolExitStatus, TwoOnAUsageErrorABadSetupFileOrNoPortAndNothingIsSent) {
    ExpectOneLine(Program("delay 1 5ps"), 2,
                  "delay '5ps' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps");
    tooltest::TempFolder folder;
    const std::string file = folder.Write("setup.json", R"({"qx480_setup": 2})");
    ExpectOneLine(Program("temp apply " + ShellQuoted(file)), 2,
                  file + ": qx480_setup: version 2 is not known: this qx480 reads version 1");
    ExpectOneLine(RunShell("env -u QX480_PORT " + Qx480("temp")), 2,
                  "no port named: give --port PORT or set QX480_PORT (qx480 ports lists this machine's ports)");
    EXPECT_EQ(sim.BytesReceived(), 0u);
}

TEST_F(ToolExitStatus, ThreeWhenThePortDoesNotOpen) {
    ExpectOneLine(RunShell(Qx480("--port /dev/qx480-no-such-port temp")), 3, "no such port /dev/qx480-no-such-port");
    ExpectOneLine(RunShell(Qx480("--port /dev/null temp")), 3, "/dev/null is not a serial port");
}

TEST_F(ToolExitStatus, FourWithoutAValidAnswer) {
    SetFaults([](qx480::sim::Faults& f) { f.corruptEvery = 1; });
    ExpectOneLine(Program("temp"), 4,
                  "a corrupted answer from " + port + " to the temperature query: check the baud rate and the cable");
    SetFaults([](qx480::sim::Faults& f) { f.echo = qx480::sim::Echo::Loopback; });
    ExpectOneLine(Program("status"), 4, port + " echoes requests back: a loopback plug or a local echo is in the way");
}

TEST_F(ToolExitStatus, FiveWhenTheDeviceRefuses) {
    ExpectOneLine(Program("delay 1 20s"), 5, "the device on " + port + " refused the delay 20 s for channel 1");
}

TEST_F(ToolExitStatus, SixWhenTheDeviceDiffersFromTheFile) {
    tooltest::TempFolder folder;
    const std::string file = folder.Write("setup.json", R"({"qx480_setup": 1, "channels": {"4": {"width": "1us"}}})");
    const ProgramResult r = Program("diff " + ShellQuoted(file));
    ExpectOneLine(r, 6, "channel 4 width: " + file + " has 1 us, device reports 0 ns");
}

TEST_F(ToolExitStatus, TheEnvironmentNamesThePortWhenPortIsNotGiven) {
    const ProgramResult r = RunShell("QX480_PORT=" + ShellQuoted(port) + " " + Qx480("delay 2 20ns"));
    ExpectSuccess(r);
    EXPECT_EQ(sim.State().block.channels[1].delay, 2000u);
    const ProgramResult given =
        RunShell("QX480_PORT=/dev/qx480-no-such-port " + Qx480("--port " + ShellQuoted(port) + " width 2 20ns"));
    ExpectSuccess(given);
    EXPECT_EQ(sim.State().block.channels[1].width, 2000u);
}

using ToolVerify = tooltest::ToolOnSimulator;

TEST_F(ToolVerify, AFaithfulDeviceReportsWhatWasSent) {
    const Result r =
        Run({"--verify", "delay", "2", "1.5us", "width", "2", "250ns", "rate", "10kHz", "channel", "2", "on"});
    EXPECT_EQ(r.status, qx480::EXIT_OK) << r.err;
    EXPECT_EQ(tooltest::Lines(r.out).back(), "verify: the device reports the 3 values sent");
    const auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[4][4], READ_TIMING) << "one read of the timing block, after the set steps";
}

TEST_F(ToolVerify, AnEchoingLineFailsTheReadBackWithStatusFour) {
    SetFaults([](qx480::sim::Faults& f) { f.echo = qx480::sim::Echo::Loopback; });
    const Result r = Run({"--verify", "delay", "1", "10ns"});
    EXPECT_EQ(r.status, qx480::EXIT_NO_ANSWER);
    EXPECT_EQ(r.err, port + " echoes requests back: a loopback plug or a local echo is in the way\n");
}

TEST_F(ToolVerify, SaysSoWhenNothingSentCanBeReadBack) {
    const Result r = Run({"--verify", "output", "on", "trigger", "external"});
    EXPECT_EQ(r.status, qx480::EXIT_OK) << r.err;
    EXPECT_EQ(tooltest::Lines(r.out).back(),
              "verify: nothing to read back (the device reports delays, widths and the rate only)");
    EXPECT_EQ(sim.RequestCount(), 2u);
}

// Another host changes the device between the line's set steps and the read-back.
TEST_F(ToolVerify, NamesEachFieldTheDeviceReportsOtherwiseAndGivesStatusSix) {
    QX480DDG device;
    ASSERT_TRUE(device.Open(port.c_str(), qx480::tool::DEFAULT_BAUD));
    qx480::tool::Invocation inv;
    std::string error;
    ASSERT_TRUE(qx480::tool::ParseCommandLine({"delay", "2", "1.5us", "width", "3", "5ns", "rate", "1kHz"}, inv, error))
        << error;
    std::ostringstream out, err;
    qx480::tool::Session session(device, port, inv, out, err);
    for (const qx480::tool::Step& step : inv.steps) ASSERT_TRUE(session.Run(step)) << err.str();

    qx480::sim::DeviceState changed = sim.State();
    changed.block.channels[1].delay = 100000;
    changed.block.triggerTicks = 25000;
    sim.SetState(changed);
    EXPECT_FALSE(session.Verify());
    EXPECT_EQ(session.ExitStatus(), qx480::EXIT_MISMATCH);
    EXPECT_EQ(tooltest::Lines(err.str()),
              (std::vector<std::string>{
                  "channel 2 delay: sent 1.5 us, device reports 1 us",
                  "trigger rate: sent 1 kHz (period 250000 x 4 ns), device reports 10 kHz (period 25000 x 4 ns)"}));
}

using ToolRetries = tooltest::ToolOnSimulator;

TEST_F(ToolRetries, AStepWithoutAnAnswerIsTriedAgain) {
    SetFaults([](qx480::sim::Faults& f) { f.dropEvery = 2; });
    const Result r = Run({"--json", "--retries", "1", "temp", "delay", "1", "10ns"});
    EXPECT_EQ(r.status, qx480::EXIT_OK) << r.err;
    EXPECT_EQ(r.err, "trying again (1 of 1) after: no answer from " + port +
                         " within 1000 ms to the delay 10 ns for channel 1: is the device on, on this port, at this "
                         "baud rate?\n");
    const std::vector<tooltest::json> records = tooltest::Records(r.out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[0].contains("retries"));
    EXPECT_EQ(records[1]["retries"], 1);
    EXPECT_EQ(sim.RequestCount(), 3u);
    EXPECT_EQ(sim.State().block.channels[0].delay, 1000u);
}

TEST_F(ToolRetries, FireIsNeverTriedAgain) {
    SetFaults([](qx480::sim::Faults& f) { f.dropEvery = 2; });
    const Result r = Run({"--retries", "3", "temp", "fire"});
    EXPECT_EQ(r.status, qx480::EXIT_NO_ANSWER);
    EXPECT_EQ(sim.RequestCount(), 2u);
    EXPECT_EQ(sim.State().softwareTriggers, 0u);
    EXPECT_EQ(tooltest::Lines(r.err).size(), 1u) << r.err;
}

TEST_F(ToolRetries, ARefusalIsNeverTriedAgain) {
    const Result r = Run({"--retries", "3", "delay", "1", "20s"});
    EXPECT_EQ(r.status, qx480::EXIT_REFUSED);
    EXPECT_EQ(sim.RequestCount(), 1u);
}

}  // namespace
