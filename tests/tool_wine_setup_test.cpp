// The Windows build of the qx480 tool with setup files, the port list and
// the exit statuses, against the simulated device behind a COM port
// (scripts/wine-harness names it in QX480_TEST_PORTS).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "command_line.h"
#include "tool_json.h"
#include "tool_output.h"
#include "tool_wine_port.h"

namespace {

using tooltest::Result;
using tooltest::RunTool;

class ToolSetupOnWindows : public testing::Test {
protected:
    void SetUp() override {
        port = tooltest::HarnessPort();
        ASSERT_FALSE(port.empty()) << "run under scripts/wine-harness with a qx480-sim far end";
    }
    Result Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", port});
        return RunTool(args);
    }
    std::string port;
    tooltest::TempFolder folder;
};

TEST_F(ToolSetupOnWindows, SaveReplacesTheFileWholeAndApplyAndDiffReadIt) {
    ASSERT_EQ(Run({"delay", "5", "1.5us", "width", "5", "250ns", "rate", "3MHz"}).status, qx480::EXIT_OK);
    const std::string file = folder.Write("setup.json", "the setup saved before\n");
    const Result saved = Run({"save", file});
    ASSERT_EQ(saved.status, qx480::EXIT_OK) << saved.err;
    const tooltest::json written = tooltest::json::parse(tooltest::ReadFile(file));
    EXPECT_EQ(written["channels"]["5"]["delay"], "1.5us");
    EXPECT_EQ(written["trigger"]["rate"], "3.01204819MHz");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), std::filesystem::directory_iterator()),
              1)
        << "no temporary file is left beside it";

    ASSERT_EQ(Run({"delay", "5", "0ns"}).status, qx480::EXIT_OK);
    const Result differs = Run({"diff", file});
    EXPECT_EQ(differs.status, qx480::EXIT_MISMATCH);
    EXPECT_EQ(differs.err, "channel 5 delay: " + file + " has 1.5 us, device reports 0 ns\n");
    const Result applied = Run({"--verify", "apply", file});
    EXPECT_EQ(applied.status, qx480::EXIT_OK) << applied.err;
    EXPECT_EQ(Run({"diff", file}).status, qx480::EXIT_OK);
}

TEST_F(ToolSetupOnWindows, EachOutcomeHasItsExitStatus) {
    EXPECT_EQ(Run({"temp"}).status, qx480::EXIT_OK);
    EXPECT_EQ(Run({"delay", "1", "5ps"}).status, qx480::EXIT_USAGE);
    EXPECT_EQ(RunTool({"--port", "COM200", "temp"}).status, qx480::EXIT_OPEN);
    EXPECT_EQ(Run({"width", "1", "20s"}).status, qx480::EXIT_REFUSED);
    const std::string file = folder.Write("bad.json", R"({"qx480_setup": 1, "channels": {"9": {}}})");
    const Result bad = Run({"apply", file});
    EXPECT_EQ(bad.status, qx480::EXIT_USAGE);
    EXPECT_EQ(bad.err, file + ": channels.9: channel outside 1 to 8\n");
}

// Wine lists only the ports its registry was made with, not the harness's.
TEST_F(ToolSetupOnWindows, PortsListTheComPortsOneRecordEach) {
    const Result text = RunTool({"ports"});
    const Result r = RunTool({"--json", "ports"});
    ASSERT_EQ(r.status, qx480::EXIT_OK) << r.err;
    const std::vector<tooltest::json> records = tooltest::Records(r.out);
    const std::vector<std::string> lines = tooltest::Lines(text.out);
    ASSERT_EQ(records.size(), records.empty() ? 0u : lines.size()) << text.out;
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]["step"], "ports");
        const std::string name = records[i]["port"];
        EXPECT_EQ(name.compare(0, 3, "COM"), 0) << name;
        EXPECT_EQ(lines[i].compare(0, name.size() + 2, name + "  "), 0) << lines[i];
    }
}

}  // namespace
