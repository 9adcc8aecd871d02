// The qx480 tool end to end against the simulated device on a pseudo-terminal:
// in-process through RunQx480 for what reaches the device and what is printed,
// and through the real program for exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "command_line.h"
#include "golden_frames.h"
#include "qx480_tool.h"
#include "serial_port.h"
#include "simulated_device.h"
#include "tool_output.h"
#include "tool_simulator.h"

namespace {

using qx480::EXIT_NO_ANSWER;
using qx480::EXIT_OK;
using qx480::EXIT_OPEN;
using qx480::EXIT_REFUSED;
using qx480::EXIT_USAGE;

using tooltest::Result;

using tooltest::Columns;
using tooltest::Lines;

namespace golden = qx480::test::golden;

nlohmann::json Json(const std::string& line) {
    nlohmann::json v = nlohmann::json::parse(line, nullptr, false);
    EXPECT_FALSE(v.is_discarded()) << "not JSON: " << line;
    return v;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

class ToolE2E : public tooltest::ToolOnSimulator {
protected:
    void ExpectOneErrorLine(const Result& r, int status, const std::string& line) {
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.err, line + "\n");
    }
};

TEST_F(ToolE2E, EveryCommandReachesTheDeviceInOneCall) {
    const Result r = Run({"delay", "2", "1.5us", "width", "2", "250ns", "channel", "2", "on", "output", "on", "trigger",
                          "software", "rate", "10kHz", "fire", "channel", "2", "off"});
    ASSERT_EQ(r.status, EXIT_OK) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"channel 2 delay 1.5 us", "channel 2 width 250 ns",
                                                      "channel 2 on", "output on", "trigger software",
                                                      "rate 10 kHz (period 25000 x 4 ns)", "fired", "channel 2 off"}));
    const qx480::sim::DeviceState s = sim.State();
    EXPECT_EQ(s.block.channels[1].delay, 150000u);
    EXPECT_EQ(s.block.channels[1].width, 25000u);
    EXPECT_FALSE(s.channelOn[1]);
    EXPECT_TRUE(s.globalOutput);
    EXPECT_EQ(s.triggerOpt, 3);
    EXPECT_EQ(s.block.triggerTicks, 25000u);
    EXPECT_EQ(s.softwareTriggers, 1u);
    EXPECT_EQ(sim.RequestCount(), 8u);

    ASSERT_EQ(Run({"output", "off", "trigger", "external", "channel", "5", "on"}).status, EXIT_OK);
    EXPECT_FALSE(sim.State().globalOutput);
    EXPECT_EQ(sim.State().triggerOpt, 2);
    EXPECT_TRUE(sim.State().channelOn[4]);
}

TEST_F(ToolE2E, TimesReachTheDeviceExactlyToTheTenPicosecondStep) {
    const Result r = Run({"delay", "1", "10ns", "delay", "2", "1.5us", "delay", "3", "0.01ns", "delay", "4", "1e3ns",
                          "width", "5", "184467440737095516.15ns"});
    ASSERT_EQ(r.status, EXIT_REFUSED);  // the last one is past the simulated device's limit
    const qx480::sim::DeviceState s = sim.State();
    EXPECT_EQ(s.block.channels[0].delay, 1000u);
    EXPECT_EQ(s.block.channels[1].delay, 150000u);
    EXPECT_EQ(s.block.channels[2].delay, 1u);
    EXPECT_EQ(s.block.channels[3].delay, 100000u);
    // The refused width went out whole, as all 64 bits.
    const auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(std::vector<std::uint8_t>(requests[4].begin() + 7, requests[4].begin() + 15),
              std::vector<std::uint8_t>(8, 0xFF));
}

TEST_F(ToolE2E, ABadArgumentAnywhereStopsTheCallBeforeAnythingIsSent) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"delay", "1", "10ns", "delay", "1", "5ps"},
                                                                  {"delay", "1", "10ns", "width", "1", "-5ns"},
                                                                  {"fire", "delay", "9", "10ns"},
                                                                  {"fire", "rate", "500MHz"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, EXIT_USAGE) << args.back();
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    }
    EXPECT_EQ(sim.RequestCount(), 0u);
}

TEST_F(ToolE2E, ARefusalNamesThePortAndWhatWasRefusedAndStopsTheRun) {
    const Result r = Run({"delay", "1", "10ns", "delay", "3", "20s", "delay", "2", "10ns"});
    ExpectOneErrorLine(r, EXIT_REFUSED, "the device on " + port + " refused the delay 20 s for channel 3");
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{"channel 1 delay 10 ns"});
    EXPECT_EQ(sim.RequestCount(), 2u);
    EXPECT_EQ(sim.State().block.channels[1].delay, 0u);

    qx480::sim::Limits limits = sim.GetLimits();
    limits.minTriggerTicks = 25;
    ASSERT_TRUE(sim.SetLimits(limits));
    ExpectOneErrorLine(Run({"rate", "20MHz"}), EXIT_REFUSED,
                       "the device on " + port + " refused the rate 20.8333333 MHz (period 12 x 4 ns)");
    ExpectOneErrorLine(Run({"width", "8", "10.01s"}), EXIT_REFUSED,
                       "the device on " + port + " refused the width 10.01 s for channel 8");
}

// Each kind of failure, on a device with one fault, is reported as itself.
struct FailureCase {
    const char* name;
    void (*fault)(qx480::sim::Faults&);
    std::vector<std::string> args;
    std::string line;  // PORT stands for the port
};

const FailureCase kFailures[] = {
    {"SilentTemperatureQuery",
     [](qx480::sim::Faults& f) { f.dropEvery = 1; },
     {"temp", "fire"},
     "no answer from PORT within 1000 ms to the temperature query: is the device on, on this port, at this baud "
     "rate?"},
    {"SilentChannelSwitch",
     [](qx480::sim::Faults& f) { f.dropEvery = 1; },
     {"channel", "4", "on"},
     "no answer from PORT within 1000 ms to switching channel 4 on: is the device on, on this port, at this baud "
     "rate?"},
    {"BadChecksum",
     [](qx480::sim::Faults& f) { f.corruptEvery = 1; },
     {"delay", "1", "10ns"},
     "a corrupted answer from PORT to the delay 10 ns for channel 1: check the baud rate and the cable"},
    {"ShortLength",
     [](qx480::sim::Faults& f) { f.shortLength = true; },
     {"status"},
     "a corrupted answer from PORT to the temperature query: check the baud rate and the cable"},
    {"HangUp",
     [](qx480::sim::Faults& f) { f.hangUpAfter = 1; },
     {"fire", "output", "on"},
     "PORT failed during switching the output on: was it unplugged?"},
    {"Loopback",
     [](qx480::sim::Faults& f) { f.echo = qx480::sim::Echo::Loopback; },
     {"temp"},
     "PORT echoes requests back: a loopback plug or a local echo is in the way"},
};

// GoogleTest names a case by this instead of its bytes.
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ToolE2EFailure : public ToolE2E, public testing::WithParamInterface<FailureCase> {};

TEST_P(ToolE2EFailure, IsReportedAsItself) {
    qx480::sim::Faults faults;
    GetParam().fault(faults);
    ASSERT_TRUE(sim.SetFaults(faults));
    std::string line = GetParam().line;
    line.replace(line.find("PORT"), 4, port);
    ExpectOneErrorLine(Run(GetParam().args), EXIT_NO_ANSWER, line);
}

INSTANTIATE_TEST_SUITE_P(EachKind, ToolE2EFailure, testing::ValuesIn(kFailures),
                         [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(ToolE2E, APortThatCannotBeOpenedIsToldApartFromASilentDevice) {
    {
        SerialPort holder;
        ASSERT_TRUE(holder.Open(port.c_str(), 115200, 8, StopBits::One, Parity::None));
        ExpectOneErrorLine(Run({"temp"}), EXIT_OPEN, port + " is in use by another program");
    }
    EXPECT_EQ(sim.RequestCount(), 0u);
    EXPECT_EQ(Run({"temp"}).status, EXIT_OK);  // free again once the holder closed it

    std::ostringstream out, err;
    EXPECT_EQ(qx480::tool::RunQx480({"--port", "/dev/qx480-no-such-port", "temp"}, out, err), EXIT_OPEN);
    EXPECT_EQ(err.str(), "no such port /dev/qx480-no-such-port\n");
    err.str("");
    EXPECT_EQ(qx480::tool::RunQx480({"--port", "/dev/null", "temp"}, out, err), EXIT_OPEN);
    EXPECT_EQ(err.str(), "/dev/null is not a serial port\n");
    EXPECT_EQ(out.str(), "");
}

TEST_F(ToolE2E, StatusShowsEveryChannelFromOneTimingQuery) {
    qx480::sim::DeviceState s;
    s.block.channels[0].delay = 1000;
    s.block.channels[2].delay = 1;
    s.block.channels[0].width = 10000;
    s.block.channels[7].width = UINT64_MAX;
    for (auto& channel : s.block.channels) channel.time140 = 150000;
    s.block.channels[4].time204 = 100000000000;
    s.block.word128 = 0x1234;
    s.block.byte130 = 7;
    s.block.byte131 = 255;
    s.block.byte136 = 1;
    s.block.byte137 = 2;
    s.block.word138 = 65535;
    s.block.float276 = 1.5f;
    s.block.triggerTicks = 83;
    s.temperature = -3.25f;
    sim.SetState(s);

    const Result r = Run({"status"});
    ASSERT_EQ(r.status, EXIT_OK) << r.err;
    EXPECT_EQ(sim.RequestCount(), 2u);  // the temperature and one timing block
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 13u) << r.out;
    EXPECT_EQ(lines[0], "port          " + port);
    EXPECT_EQ(lines[1], "temperature   -3.25 C");
    EXPECT_EQ(lines[2], "trigger rate  3.01204819 MHz (period 83 x 4 ns)");
    EXPECT_EQ(lines[3],
              "device        word128 4660  byte130 7  byte131 255  byte136 1  byte137 2  word138 65535  float276 1.5");
    EXPECT_EQ(Columns(lines[4]), (std::vector<std::string>{"channel", "delay", "width", "time140", "time204"}));
    EXPECT_EQ(Columns(lines[5]), (std::vector<std::string>{"1", "10 ns", "100 ns", "1.5 us", "0 ns"}));
    EXPECT_EQ(Columns(lines[7]), (std::vector<std::string>{"3", "10 ps", "0 ns", "1.5 us", "0 ns"}));
    EXPECT_EQ(Columns(lines[9]), (std::vector<std::string>{"5", "0 ns", "0 ns", "1.5 us", "1 s"}));
    EXPECT_EQ(Columns(lines[12]), (std::vector<std::string>{"8", "0 ns", "184467440.73709551615 s", "1.5 us", "0 ns"}));
}

TEST_F(ToolE2E, JsonStatusAndTemperatureParseBackToTheDeviceState) {
    qx480::sim::DeviceState s;
    s.block.channels[2].delay = 1;
    s.block.channels[7].width = UINT64_MAX;
    s.block.channels[4].time204 = 100000000000;
    s.block.word128 = 0x1234;
    s.block.byte131 = 255;
    s.block.triggerTicks = 83;
    s.temperature = 31.5f;
    s.block.float276 = std::numeric_limits<float>::quiet_NaN();
    sim.SetState(s);

    const Result r = Run({"--json", "delay", "1", "10ns", "status", "temp"});
    ASSERT_EQ(r.status, EXIT_OK) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << "one record per step:\n" << r.out;

    nlohmann::json status = Json(lines[1]);
    EXPECT_EQ(status["step"], "status");
    EXPECT_EQ(status["port"], port);
    EXPECT_EQ(status["temperature_c"], 31.5);
    EXPECT_EQ(status["trigger_ticks"], 83);
    EXPECT_NEAR(status["trigger_hz"].get<double>(), 1e9 / (83 * 4.0), 1e-6);
    EXPECT_EQ(status["word128"], 4660);
    EXPECT_EQ(status["byte131"], 255);
    EXPECT_EQ(status["word138"], 0);
    EXPECT_TRUE(status["float276"].is_null());  // JSON has no NaN
    nlohmann::json& channels = status["channels"];
    ASSERT_EQ(channels.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(channels[i]["channel"], i + 1);
    EXPECT_EQ(channels[0]["delay_ns"], "10");
    EXPECT_EQ(channels[2]["delay_ns"], "0.01");
    EXPECT_EQ(channels[7]["width_ns"], "184467440737095516.15");
    EXPECT_EQ(channels[7]["width_counts"], UINT64_MAX);
    EXPECT_EQ(channels[4]["time204_ns"], "1000000000");
    EXPECT_EQ(channels[4]["time140_ns"], "0");

    nlohmann::json temp = Json(lines[2]);
    EXPECT_EQ(temp.size(), 4u);
    EXPECT_EQ(temp["step"], "temp");
    EXPECT_EQ(temp["port"], port);
    EXPECT_EQ(temp["temperature_c"], 31.5);
}

TEST_F(ToolE2E, TracePrintsEachFrameSentAndReceivedOnTheErrorStream) {
    const Result r = Run({"--trace", "temp"});
    ASSERT_EQ(r.status, EXIT_OK);
    EXPECT_EQ(r.out, "temperature 29.59375 C\n");
    EXPECT_EQ(Lines(r.err),
              (std::vector<std::string>{"-> " + golden::READ_TEMP.text, "<- " + golden::READ_TEMP_ANSWER.text}));
}

TEST_F(ToolE2E, TraceMarksWhatTheReceiverDropped) {
    qx480::sim::Faults faults;
    faults.foreignFrames = 1;
    faults.strayBytes = 3;
    ASSERT_TRUE(sim.SetFaults(faults));
    const Result r = Run({"--trace", "temp"});
    ASSERT_EQ(r.status, EXIT_OK) << r.err;
    const std::vector<std::string> lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 4u) << r.err;
    EXPECT_EQ(lines[1].rfind("<- dropped EB 90 ", 0), 0u) << "the frame of another command: " << lines[1];
    EXPECT_NE(Words(lines[1]).at(6), "93") << "its command code: " << lines[1];
    EXPECT_EQ(lines[2].rfind("<- dropped ", 0), 0u) << "the stray bytes: " << lines[2];
    EXPECT_EQ(Words(lines[2]).size(), 5u) << lines[2];
    EXPECT_EQ(lines[3], "<- " + golden::READ_TEMP_ANSWER.text);
}

TEST(ToolSimulate, RunsEveryCommandAgainstTheBuiltInDevice) {
    std::ostringstream out, err;
    const int status = qx480::tool::RunQx480(
        {"--simulate", "--json", "delay", "3", "0.01ns", "width", "3", "1us", "rate", "2.5MHz", "status"}, out, err);
    ASSERT_EQ(status, EXIT_OK) << err.str();
    nlohmann::json v = Json(Lines(out.str()).back());
    EXPECT_EQ(v["channels"][2]["delay_ns"], "0.01");
    EXPECT_EQ(v["channels"][2]["width_ns"], "1000");
    EXPECT_EQ(v["trigger_ticks"], 100);
}

// The real program, for its exit statuses and streams.
class ToolProgram : public testing::Test {
protected:
    Result Program(const std::string& arguments) {
        // One file per process and call: ctest runs the cases of this suite in parallel.
        static int calls = 0;
        const std::string errFile = testing::TempDir() + "qx480_tool_stderr_" + std::to_string(getpid()) + "_" +
                                    std::to_string(++calls) + ".txt";
        const std::string command = std::string(QX480_TOOL_PROGRAM) + " " + arguments + " 2>" + errFile;
        Result r{-1, "", ""};
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return r;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.out.append(buffer, n);
        const int wait = pclose(pipe);
        r.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
        std::ifstream in(errFile);
        std::ostringstream err;
        err << in.rdbuf();
        r.err = err.str();
        std::remove(errFile.c_str());
        return r;
    }
};

TEST_F(ToolProgram, ExitsZeroOnSuccessWithTheResultsOnStandardOutput) {
    const Result r = Program("--simulate --json delay 1 0.01ns status");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Json(Lines(r.out).back())["channels"][0]["delay_ns"], "0.01");
    const Result help = Program("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: qx480"), std::string::npos);
}

TEST_F(ToolProgram, ExitsThreeWhenThePortFailsAndFiveWhenTheDeviceRefuses) {
    const Result missing = Program("--port /dev/qx480-no-such-port temp");
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.err, "no such port /dev/qx480-no-such-port\n");
    const Result unreachable = Program("--port socket://127.0.0.1:1 temp");  // nothing listens on port 1
    EXPECT_EQ(unreachable.status, 3);
    EXPECT_EQ(unreachable.err,
              "cannot open socket://127.0.0.1:1: the host refused the connection (is the terminal server's port "
              "right?)\n");
    const Result refused = Program("--simulate delay 1 20s");
    EXPECT_EQ(refused.status, 5);
    EXPECT_EQ(Lines(refused.err).size(), 1u);
    EXPECT_NE(refused.err.find(" refused the delay 20 s for channel 1"), std::string::npos) << refused.err;
}

TEST_F(ToolProgram, ExitsTwoOnAUsageErrorWithOneLine) {
    for (const char* args : {"delay 1 5ps", "delay 1 -5ns", "delay 9 1ns", "", "--port", "frobnicate"}) {
        const Result r = Program(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_EQ(Lines(r.err).size(), 1u) << args << ": " << r.err;
    }
}

}  // namespace
