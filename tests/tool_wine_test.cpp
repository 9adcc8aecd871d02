// The Windows build of the qx480 tool in a short session against the
// simulated device behind a COM port (scripts/wine-harness serves it with the
// native qx480-sim and names the port in QX480_TEST_PORTS): in-process through
// RunQx480 with the plain "COMn" name, and through qx480.exe for exit statuses.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "command_line.h"
#include "qx480_tool.h"
#include "tool_output.h"
#include "tool_wine_port.h"

namespace {

using tooltest::Columns;
using tooltest::Lines;

using tooltest::HarnessPort;

using tooltest::Result;
using tooltest::RunTool;

// qx480.exe lies beside this test program.
int RunProgram(std::vector<std::string> args) {
    char self[MAX_PATH];
    const DWORD size = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string program(self, size);
    program = program.substr(0, program.find_last_of("\\/") + 1) + "qx480.exe";
    args.insert(args.begin(), program);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return static_cast<int>(_spawnv(_P_WAIT, program.c_str(), argv.data()));
}

class ToolOnWindows : public testing::Test {
protected:
    void SetUp() override {
        port = HarnessPort();
        ASSERT_FALSE(port.empty()) << "run under scripts/wine-harness with a qx480-sim far end";
    }
    std::string port;
};

TEST_F(ToolOnWindows, ASessionSetsAndReadsBackThroughTheComPort) {
    const Result r = RunTool({"--port", port, "delay", "3", "0.01ns", "width", "3", "1us", "channel", "3", "on",
                              "output", "on", "trigger", "software", "rate", "2.5MHz", "fire", "status"});
    ASSERT_EQ(r.status, qx480::EXIT_OK) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 20u) << r.out;
    EXPECT_EQ(lines[0], "channel 3 delay 10 ps");
    EXPECT_EQ(lines[5], "rate 2.5 MHz (period 100 x 4 ns)");
    EXPECT_EQ(lines[7], "port          " + port);
    EXPECT_EQ(Columns(lines[14]), (std::vector<std::string>{"3", "10 ps", "1 us", "0 ns", "0 ns"}));

    const Result json = RunTool({"--port", port, "--json", "temp"});
    ASSERT_EQ(json.status, qx480::EXIT_OK) << json.err;
    const nlohmann::json v = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_TRUE(v.is_object()) << json.out;
    EXPECT_EQ(v.at("step"), "temp");
    EXPECT_EQ(v.at("temperature_c"), 29.59375);
}

TEST_F(ToolOnWindows, RefusalsAndMissingPortsAreOneLineEach) {
    const Result refused = RunTool({"--port", port, "delay", "1", "20s"});
    EXPECT_EQ(refused.status, qx480::EXIT_REFUSED);
    EXPECT_EQ(refused.err, "the device on " + port + " refused the delay 20 s for channel 1\n");

    const Result missing = RunTool({"--port", "COM200", "temp"});
    EXPECT_EQ(missing.status, qx480::EXIT_OPEN);
    EXPECT_EQ(missing.err, "no such port COM200\n");
}

TEST_F(ToolOnWindows, SimulateServesTheBuiltInDeviceOnALoopbackSocket) {
    const Result simulate = RunTool({"--simulate", "delay", "1", "10ns", "status"});
    EXPECT_EQ(simulate.status, qx480::EXIT_OK) << simulate.err;
    EXPECT_NE(simulate.out.find("port          socket://127.0.0.1:"), std::string::npos) << simulate.out;
    EXPECT_EQ(RunProgram({"--simulate", "status"}), 0);
}

TEST_F(ToolOnWindows, TheProgramExitsWithTheStatusOfTheOutcome) {
    EXPECT_EQ(RunProgram({"--port", port, "width", "2", "100ns", "temp"}), 0);
    EXPECT_EQ(RunProgram({"--port", port, "delay", "1", "20s"}), 5);
    EXPECT_EQ(RunProgram({"--port", port, "delay", "1", "5ps"}), 2);
}

}  // namespace
