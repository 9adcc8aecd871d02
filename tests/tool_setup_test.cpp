// apply, save and diff against the simulated device: the order apply sends
// in, round trips through a saved file, each fault of a file reported in one
// line with nothing sent, and a save that cannot finish leaving the old file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "tool_simulator.h"

namespace {

using tooltest::json;
using tooltest::Result;
using tooltest::ShellQuoted;

constexpr std::uint8_t SET_TRIGGER = qx480::CommandCode(QX480Command::SET_TRIGGER);
constexpr std::uint8_t SET_TRIG_FREQ = qx480::CommandCode(QX480Command::SET_TRIG_FREQ);
constexpr std::uint8_t SET_CHANNEL = qx480::CommandCode(QX480Command::SET_CHANNEL);
constexpr std::uint8_t SET_GLOBAL_OUTPUT = qx480::CommandCode(QX480Command::SET_GLOBAL_OUTPUT);
constexpr std::uint8_t SET_DELAY = qx480::CommandCode(QX480Command::SET_DELAY);
constexpr std::uint8_t SET_PULSE_WIDTH = qx480::CommandCode(QX480Command::SET_PULSE_WIDTH);

// Where a request frame keeps its command code and option word.
constexpr std::size_t CMD_AT = 4;
constexpr std::size_t OPT_AT = 5;

struct Sent {
    std::uint8_t cmd;
    std::uint16_t opt;
    bool operator==(const Sent& other) const { return cmd == other.cmd && opt == other.opt; }
};

std::ostream& operator<<(std::ostream& out, const Sent& s) {
    return out << "cmd " << unsigned{s.cmd} << " opt " << s.opt;
}

class ToolSetup : public tooltest::ToolOnSimulator {
protected:
    // The command code and option word of each request the device got.
    std::vector<Sent> SentSoFar() const {
        std::vector<Sent> sent;
        for (const auto& frame : sim.Requests()) {
            sent.push_back(
                {frame.at(CMD_AT), static_cast<std::uint16_t>(frame.at(OPT_AT) | frame.at(OPT_AT + 1) << 8)});
        }
        return sent;
    }

    // A device state with every channel and the rate set to something its own.
    static qx480::sim::DeviceState Varied() {
        qx480::sim::DeviceState s;
        for (std::size_t i = 0; i < s.block.channels.size(); ++i) {
            s.block.channels[i].delay = 1234567 * (i + 1);
            s.block.channels[i].width = 100 * i + 1;
        }
        s.block.triggerTicks = 83;
        return s;
    }

    tooltest::TempFolder folder;
};

TEST_F(ToolSetup, ApplySendsTheFileInASafeOrder) {
    const std::string file = folder.Write("setup.json", R"({"qx480_setup": 1,
        "output": true,
        "channels": {"2": {"on": false, "width": "250ns", "delay": "1.5us"},
                     "1": {"delay": "10ns", "width": "100ns", "on": true}},
        "trigger": {"rate": "1kHz", "source": "internal"}})");
    const Result r = Run({"apply", file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SentSoFar(), (std::vector<Sent>{{SET_GLOBAL_OUTPUT, 0},
                                              {SET_TRIGGER, 1},
                                              {SET_TRIG_FREQ, 0},
                                              {SET_DELAY, 1},
                                              {SET_PULSE_WIDTH, 1},
                                              {SET_CHANNEL, 0x0101},
                                              {SET_DELAY, 2},
                                              {SET_PULSE_WIDTH, 2},
                                              {SET_CHANNEL, 0x0200},
                                              {SET_GLOBAL_OUTPUT, 1}}));
    const qx480::sim::DeviceState s = sim.State();
    EXPECT_TRUE(s.globalOutput);
    EXPECT_TRUE(s.channelOn[0]);
    EXPECT_FALSE(s.channelOn[1]);
    EXPECT_EQ(s.block.channels[1].delay, 150000u);
    EXPECT_EQ(s.block.triggerTicks, 250000u);
    EXPECT_EQ(tooltest::Lines(r.out).back(), "applied " + file);
}

TEST_F(ToolSetup, ApplyLeavesWhatTheFileLeavesOut) {
    qx480::sim::DeviceState before = Varied();
    before.globalOutput = true;
    sim.SetState(before);
    const Result r =
        Run({"apply", folder.Write("width.json", R"({"qx480_setup": 1, "channels": {"3": {"width": "5ns"}}})")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SentSoFar(), (std::vector<Sent>{{SET_PULSE_WIDTH, 3}})) << "not even the output off";
    qx480::sim::DeviceState expected = before;
    expected.block.channels[2].width = 500;
    EXPECT_EQ(sim.State(), expected);

    const Result off = Run({"apply", folder.Write("off.json", R"({"qx480_setup": 1, "output": false})")});
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(SentSoFar().size(), 2u) << "the output alone, once";
    EXPECT_FALSE(sim.State().globalOutput);
}

TEST_F(ToolSetup, SaveApplyAndDiffRoundTrip) {
    const qx480::sim::DeviceState varied = Varied();
    sim.SetState(varied);
    const std::string file = folder.File("saved.json");
    const Result saved = Run({"save", file});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(saved.out, "saved the delays, widths and trigger rate of " + port + " to " + file + "\n");
    EXPECT_EQ(sim.RequestCount(), 1u);

    sim.SetState(qx480::sim::DeviceState());
    const Result applied = Run({"--verify", "apply", file});
    ASSERT_EQ(applied.status, 0) << applied.err;
    EXPECT_EQ(tooltest::Lines(applied.out).back(), "verify: the device reports the 17 values sent");
    EXPECT_EQ(sim.State(), varied);

    const Result same = Run({"diff", file});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, "the device matches " + file + " (17 values compared)\n");
}

TEST_F(ToolSetup, DiffNamesEachDifferenceAndGivesStatusSix) {
    const std::string file = folder.Write("bench.json", R"({"qx480_setup": 1, "output": true,
        "trigger": {"rate": "10kHz"}, "channels": {"2": {"delay": "1.5us", "width": "0ns", "on": true}}})");
    qx480::sim::DeviceState s;
    s.block.channels[1].delay = 100000;
    sim.SetState(s);
    const Result r = Run({"--json", "diff", file});
    EXPECT_EQ(r.status, qx480::EXIT_MISMATCH);
    EXPECT_EQ(tooltest::Lines(r.err),
              (std::vector<std::string>{
                  "channel 2 delay: " + file + " has 1.5 us, device reports 1 us",
                  "trigger rate: " + file +
                      " has 10 kHz (period 25000 x 4 ns), device reports 1 kHz (period 250000 x 4 ns)"}));
    const std::vector<json> records = tooltest::Records(r.out);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["error"], "mismatch");
    EXPECT_EQ(records[0]["compared"], 3);
    EXPECT_EQ(records[0]["not_compared"], json({"output", "channels.2.on"}));
    EXPECT_EQ(records[0]["differences"][0],
              json({{"key", "channels.2.delay"}, {"expected_counts", 150000}, {"device_counts", 100000}}));
    EXPECT_EQ(records[0]["differences"][1],
              json({{"key", "trigger.rate"}, {"expected_ticks", 25000}, {"device_ticks", 250000}}));
    EXPECT_EQ(sim.RequestCount(), 1u) << "diff only reads";
}

TEST_F(ToolSetup, ApplyAndSaveRecordWhatTheyDid) {
    const std::string file =
        folder.Write("two.json", R"({"qx480_setup": 1, "channels": {"1": {"delay": "20ns"}}, "output": true})");
    const std::vector<json> r = RunJson({"apply", file, "save", folder.File("back.json")}, 0);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0]["step"], "apply");
    EXPECT_EQ(r[0]["file"], file);
    EXPECT_EQ(r[0]["sent"], json::parse(R"([{"step":"output","on":false},
        {"step":"delay","channel":1,"counts":2000,"ns":"20"}, {"step":"output","on":true}])"));
    EXPECT_EQ(r[1]["step"], "save");
    EXPECT_EQ(r[1]["setup"]["channels"]["1"]["delay"], "20ns");
    EXPECT_EQ(r[1]["setup"], json::parse(tooltest::ReadFile(folder.File("back.json"))));
}

// Each fault of a setup file: exit status 2, one line naming the file and the
// key, and not one byte to the device, even with other steps on the line.
TEST_F(ToolSetup, EachFaultOfAFileIsOneLineAndNothingIsSent) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"qx480_setup": 1, "colour": "red"})",
         "colour: unknown key (a setup has qx480_setup, note, output, trigger and channels)"},
        {R"({"qx480_setup": 1, "channels": {"9": {"on": true}}})", "channels.9: channel outside 1 to 8"},
        {R"({"qx480_setup": 1, "channels": {"0": {}}})", "channels.0: channel outside 1 to 8"},
        {R"({"qx480_setup": 1, "channels": {"01": {}}})", "channels.01: write the channel as \"1\""},
        {R"({"qx480_setup": 1, "channels": {"one": {}}})", "channels.one: not a channel: name channels \"1\" to \"8\""},
        {R"({"qx480_setup": 1, "channels": {"1": {"delay": "5ps"}}})",
         "channels.1.delay: '5ps' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps"},
        {R"({"qx480_setup": 1, "channels": {"1": {"width": "10 NS"}}})",
         "channels.1.width: '10 NS' has an unknown unit: did you mean ns?"},
        {R"({"qx480_setup": 1, "channels": {"1": {"delay": 10}}})",
         "channels.1.delay: must be a string such as \"10ns\", not a number"},
        {R"({"qx480_setup": 1, "channels": {"1": {"on": "yes"}}})",
         "channels.1.on: must be true or false, not a string"},
        {R"({"qx480_setup": 1, "channels": {"1": {"colour": "red"}}})",
         "channels.1.colour: unknown key (a channel has delay, width and on)"},
        {R"({"qx480_setup": 1, "channels": [1, 2]})", "channels: must be an object, not a list"},
        {R"({"qx480_setup": 1, "trigger": {"rate": "1khz"}})",
         "trigger.rate: '1khz' has an unknown unit: did you mean kHz?"},
        {R"({"qx480_setup": 1, "trigger": {"rate": "0Hz"}})", "trigger.rate: '0Hz' is zero: give a rate above 0 Hz"},
        {R"({"qx480_setup": 1, "trigger": {"source": "Internal"}})",
         "trigger.source: trigger takes internal, external or software, not 'Internal': did you mean internal?"},
        {R"({"qx480_setup": 1, "trigger": {"edge": "rising"}})",
         "trigger.edge: unknown key (a trigger has source and rate)"},
        {R"({"qx480_setup": 1, "output": 1})", "output: must be true or false, not a number"},
        {R"({"qx480_setup": 1, "note": ["a", "b"]})", "note: must be a string, not a list"},
        {R"({"qx480_setup": 2})", "qx480_setup: version 2 is not known: this qx480 reads version 1"},
        {R"({"qx480_setup": "1"})", "qx480_setup: must be the version number 1, not a string"},
        {R"({"output": true})", "qx480_setup: missing: a setup file starts with {\"qx480_setup\": 1"},
        {R"([{"qx480_setup": 1}])", "a setup file holds one JSON object, not a list"},
        {R"({"qx480_setup": 1, "channels": {"1": {"delay": "1ns", "delay": "2ns"}}})", "channels.1.delay: given twice"},
    };
    for (const auto& c : cases) {
        const std::string file = folder.Write("setup.json", c.first);
        const Result r = Run({"delay", "1", "10ns", "apply", file, "fire"});
        EXPECT_EQ(r.status, qx480::EXIT_USAGE) << c.first;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, file + ": " + c.second + "\n");
        const Result diff = Run({"diff", file});
        EXPECT_EQ(diff.status, qx480::EXIT_USAGE) << c.first;
        EXPECT_EQ(diff.err, r.err);
    }
    const std::string broken = folder.Write("broken.json", "{\"qx480_setup\": 1,");
    const Result notJson = Run({"apply", broken});
    EXPECT_EQ(notJson.status, qx480::EXIT_USAGE);
    EXPECT_EQ(notJson.err.rfind(broken + ": not JSON: parse error at line 1, column 19: ", 0), 0u) << notJson.err;
    EXPECT_EQ(tooltest::Lines(notJson.err).size(), 1u);
    const Result missing = Run({"apply", folder.File("missing.json")});
    EXPECT_EQ(missing.status, qx480::EXIT_USAGE);
    EXPECT_EQ(missing.err, folder.File("missing.json") + ": no such file\n");
    EXPECT_EQ(sim.BytesReceived(), 0u);
}

// Linux: the save is killed by SIGXFSZ while it writes, at a file size limit below the file's size.
TEST_F(ToolSetup, AnInterruptedSaveLeavesTheOldFileWhole) {
    sim.SetState(Varied());
    const std::string file = folder.Write("setup.json", "the setup saved before\n");
    const tooltest::ProgramResult r = tooltest::RunShell(
        "ulimit -f 1; exec " + tooltest::Qx480("--port " + ShellQuoted(port) + " save " + ShellQuoted(file)));
    EXPECT_EQ(r.signal, SIGXFSZ) << "status " << r.status << ": " << r.err;
    EXPECT_EQ(tooltest::ReadFile(file), "the setup saved before\n");
    std::size_t partial = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        if (entry.path() != file) partial += entry.file_size();
    }
    EXPECT_GT(partial, 0u) << "the save was cut off while it wrote, beside the file";
}

TEST_F(ToolSetup, ASaveThatCannotFinishKeepsTheOldFileAndLeavesNothingBehind) {
    const Result noFolder = Run({"save", folder.File("no-such-folder/setup.json")});
    EXPECT_EQ(noFolder.status, qx480::EXIT_LOCAL);
    EXPECT_EQ(noFolder.err,
              "cannot write " + folder.File("no-such-folder/setup.json") + ": No such file or directory\n");

    const std::string file = folder.Write("setup.json", "kept\n");
    SetFaults([](qx480::sim::Faults& f) { f.corruptEvery = 1; });
    EXPECT_EQ(Run({"save", file}).status, qx480::EXIT_NO_ANSWER);
    EXPECT_EQ(tooltest::ReadFile(file), "kept\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), std::filesystem::directory_iterator()),
              1);
}

TEST_F(ToolSetup, ASaveKeepsTheModeOfTheFileItReplaces) {
    const std::string file = folder.Write("setup.json", "old\n");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(Run({"save", file}).status, 0);
    struct stat saved;
    ASSERT_EQ(stat(file.c_str(), &saved), 0);
    EXPECT_EQ(saved.st_mode & 07777, 0640u);
    EXPECT_EQ(json::parse(tooltest::ReadFile(file))["qx480_setup"], 1);
}

}  // namespace
