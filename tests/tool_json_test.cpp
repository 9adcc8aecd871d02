// Every kind of record qx480 --json prints, against the simulated device:
// each line is one JSON object with "step" and "ok"; set steps carry what
// was sent as exact integers beside the human values; a failure is one
// record with its kind and message while the plain line goes to standard error.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "tool_simulator.h"

namespace {

using tooltest::json;
using tooltest::Result;

using ToolJson = tooltest::ToolOnSimulator;

TEST_F(ToolJson, EverySetStepReportsWhatWasSent) {
    const std::vector<json> r = RunJson({"delay", "2", "1.5us", "width", "2", "0.01ns", "channel", "2", "on", "output",
                                         "on", "trigger", "software", "rate", "3MHz", "fire", "rate", "1kHz"},
                                        0);
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0], json::parse(R"({"step":"delay","ok":true,"channel":2,"counts":150000,"ns":"1500"})"));
    EXPECT_EQ(r[1], json::parse(R"({"step":"width","ok":true,"channel":2,"counts":1,"ns":"0.01"})"));
    EXPECT_EQ(r[2], json::parse(R"({"step":"channel","ok":true,"channel":2,"on":true})"));
    EXPECT_EQ(r[3], json::parse(R"({"step":"output","ok":true,"on":true})"));
    EXPECT_EQ(r[4], json::parse(R"({"step":"trigger","ok":true,"source":"software"})"));
    EXPECT_EQ(r[5]["step"], "rate");
    EXPECT_EQ(r[5]["ticks"], 83);
    EXPECT_EQ(r[5]["hz"], 1e9 / (83 * 4.0));
    EXPECT_EQ(r[5]["requested_hz"], 3e6);
    EXPECT_EQ(r[5]["exact"], false);
    EXPECT_EQ(r[6], json::parse(R"({"step":"fire","ok":true})"));
    EXPECT_EQ(r[7]["ticks"], 250000);
    EXPECT_EQ(r[7]["exact"], true);
    EXPECT_EQ(sim.State().block.triggerTicks, 250000u);
}

TEST_F(ToolJson, TheRateReportedIsTheOneTheDeviceGot) {
    const Result r = Run({"rate", "3MHz", "rate", "10kHz"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tooltest::Lines(r.out),
              (std::vector<std::string>{"rate 3.01204819 MHz (period 83 x 4 ns): the nearest the 4 ns period steps "
                                        "give to the 3 MHz asked for",
                                        "rate 10 kHz (period 25000 x 4 ns)"}));
}

TEST_F(ToolJson, TimesKeepEveryDigitAsStringsBesideTheirCounts) {
    qx480::sim::DeviceState s;
    s.block.channels[7].width = UINT64_MAX;
    s.block.channels[0].delay = 12345678901234567ull;
    sim.SetState(s);
    const std::vector<json> r = RunJson({"status"}, 0);
    ASSERT_EQ(r.size(), 1u);
    const json& channels = r[0].at("channels");
    EXPECT_EQ(channels[7].at("width_ns"), "184467440737095516.15");
    EXPECT_EQ(channels[7].at("width_counts").get<std::uint64_t>(), UINT64_MAX);
    EXPECT_EQ(channels[0].at("delay_ns"), "123456789012345.67");
    EXPECT_EQ(channels[0].at("delay_counts").get<std::uint64_t>(), 12345678901234567ull);
    EXPECT_EQ(r[0].at("step"), "status");
    EXPECT_EQ(r[0].at("ok"), true);
}

TEST_F(ToolJson, AFailureIsOneRecordWithItsKindAndThePlainLineGoesToStandardError) {
    const Result refused = Run({"--json", "delay", "1", "10ns", "delay", "3", "20s", "temp"});
    EXPECT_EQ(refused.status, qx480::EXIT_REFUSED);
    const std::vector<json> records = tooltest::Records(refused.out);
    ASSERT_EQ(records.size(), 2u);
    const std::string line = "the device on " + port + " refused the delay 20 s for channel 3";
    EXPECT_EQ(records[1], json({{"step", "delay"}, {"ok", false}, {"error", "refused"}, {"message", line}}));
    EXPECT_EQ(refused.err, line + "\n");

    SetFaults([](qx480::sim::Faults& f) { f.corruptEvery = 1; });
    const std::vector<json> corrupt = RunJson({"status"}, qx480::EXIT_NO_ANSWER);
    ASSERT_EQ(corrupt.size(), 1u);
    EXPECT_EQ(corrupt[0]["step"], "status");
    EXPECT_EQ(corrupt[0]["error"], "corrupt_answer");

    SetFaults([](qx480::sim::Faults& f) { f.echo = qx480::sim::Echo::Loopback; });
    const std::vector<json> echo = RunJson({"temp"}, qx480::EXIT_NO_ANSWER);
    ASSERT_EQ(echo.size(), 1u);
    EXPECT_EQ(echo[0]["error"], "echo");
}

TEST_F(ToolJson, FailuresOutsideAStepHaveANullStep) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--json", "--port", "/dev/qx480-no-such-port", "temp"}, "port_not_found"},
        {{"--json", "--port", "/dev/null", "temp"}, "not_serial"},
        {{"--json", "--bogus"}, "usage"},
        {{"--json", "--port", port, "jump"}, "usage"},
    };
    for (const auto& c : cases) {
        const Result r = tooltest::RunTool(c.first);
        const std::vector<json> records = tooltest::Records(r.out);
        ASSERT_EQ(records.size(), 1u) << r.out;
        EXPECT_TRUE(records[0]["step"].is_null()) << r.out;
        EXPECT_EQ(records[0]["ok"], false);
        EXPECT_EQ(records[0]["error"], c.second);
        EXPECT_EQ(records[0]["message"].get<std::string>() + "\n", r.err);
    }
    const Result badTime = Run({"--json", "temp", "delay", "1", "5ps"});
    EXPECT_EQ(tooltest::Records(badTime.out).at(0)["step"], "delay") << "a usage error in a step names the step";
    EXPECT_EQ(sim.BytesReceived(), 0u);
}

TEST_F(ToolJson, TemperatureStatusVerifyAndDiagramRecords) {
    const std::vector<json> r = RunJson({"--verify", "delay", "1", "10ns", "temp", "diagram"}, 0);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[1], json({{"step", "temp"}, {"ok", true}, {"port", port}, {"temperature_c", 29.59375}}));
    EXPECT_EQ(r[2]["step"], "diagram");
    EXPECT_EQ(r[2]["period_counts"], 100000000) << "the 1 kHz the device starts with";
    EXPECT_EQ(r[2]["past_period"], json::array());
    ASSERT_TRUE(r[2]["lines"].is_array());
    EXPECT_EQ(r[2]["lines"].size(), 11u);
    EXPECT_EQ(r[3], json({{"step", "verify"}, {"ok", true}, {"compared", 1}, {"differences", json::array()}}));
}

TEST_F(ToolJson, PortsPrintOneRecordPerPort) {
    const Result text = tooltest::RunTool({"ports"});
    const Result r = tooltest::RunTool({"--json", "ports"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<json> records = tooltest::Records(r.out);
    const std::vector<std::string> lines = tooltest::Lines(text.out);
    if (records.empty()) {
        EXPECT_EQ(lines, std::vector<std::string>{"no serial ports found"});
    } else {
        EXPECT_EQ(records.size(), lines.size());
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]["step"], "ports");
        EXPECT_EQ(records[i]["ok"], true);
        EXPECT_EQ(lines.at(i).compare(0, records[i]["port"].get<std::string>().size(), records[i]["port"]), 0);
    }
}

}  // namespace
