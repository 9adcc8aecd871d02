// Setup files on their own: what a good file sets, in wire units; the file
// save writes, read back; the rate words that read back as their period.
#include <gtest/gtest.h>

#include <string>

#include "setup_file.h"
#include "tool_json.h"

namespace {

using qx480::tool::ParseSetup;
using SetupFile = qx480::tool::Setup;

SetupFile Parsed(const std::string& text) {
    SetupFile setup;
    std::string error;
    EXPECT_TRUE(ParseSetup(text, "setup.json", setup, error)) << error;
    return setup;
}

TEST(ToolSetupFile, TakesEveryKeyInWireUnits) {
    const SetupFile s = Parsed(R"({"qx480_setup": 1,
        "output": false,
        "trigger": {"source": "internal", "rate": "1kHz"},
        "channels": {"1": {"delay": "10ns", "width": "100ns", "on": true},
                     "2": {"delay": "1.5us", "width": "250ns", "on": false}}})");
    ASSERT_TRUE(s.output.has_value());
    EXPECT_FALSE(*s.output);
    EXPECT_EQ(s.source, QX480TriggerMode::Internal);
    EXPECT_EQ(s.ticks, 250000u);
    EXPECT_EQ(s.requestedHz, 1000.0);
    EXPECT_EQ(s.channels[0].delay, 1000u);
    EXPECT_EQ(s.channels[0].width, 10000u);
    EXPECT_EQ(s.channels[0].on, true);
    EXPECT_EQ(s.channels[1].delay, 150000u);
    EXPECT_EQ(s.channels[1].width, 25000u);
    EXPECT_EQ(s.channels[1].on, false);
    for (std::size_t i = 2; i < s.channels.size(); ++i) {
        EXPECT_FALSE(s.channels[i].delay || s.channels[i].width || s.channels[i].on) << i;
    }
    EXPECT_TRUE(s.SetsMoreThanOutput());
    EXPECT_EQ(s.UnreportedKeys(),
              (std::vector<std::string>{"output", "trigger.source", "channels.1.on", "channels.2.on"}));
}

TEST(ToolSetupFile, LeavesWhatTheFileLeavesOut) {
    const SetupFile bare = Parsed(R"({"qx480_setup": 1, "note": "the bench on the left"})");
    EXPECT_FALSE(bare.output || bare.source || bare.ticks);
    EXPECT_FALSE(bare.SetsMoreThanOutput());
    const SetupFile output = Parsed(R"({"output": true, "qx480_setup": 1})");
    EXPECT_EQ(output.output, true);
    EXPECT_FALSE(output.SetsMoreThanOutput());
    EXPECT_TRUE(Parsed(R"({"qx480_setup": 1, "channels": {"8": {"width": "2.25us"}}})").SetsMoreThanOutput());
}

TEST(ToolSetupFile, ASavedFileReadsBackAsTheBlockItWasWrittenFrom) {
    qx480::timing::Block block;
    for (int ch = 1; ch <= qx480::CHANNEL_COUNT; ++ch) {
        block.channels[qx480::ChannelIndex(ch)].delay = 123456789ull * static_cast<std::uint64_t>(ch);
        block.channels[qx480::ChannelIndex(ch)].width = static_cast<std::uint64_t>(ch) - 1;
    }
    block.channels[7].delay = UINT64_MAX;
    block.triggerTicks = 83;
    const std::string text = qx480::tool::SavedSetupText(block);
    const tooltest::json file = tooltest::json::parse(text);
    EXPECT_EQ(file.at("qx480_setup"), 1);
    EXPECT_TRUE(file.at("note").is_string());
    EXPECT_EQ(file.at("trigger").at("rate"), "3.01204819MHz");
    EXPECT_EQ(file.at("channels").at("1").at("delay"), "1.23456789ms");
    EXPECT_EQ(file.at("channels").at("1").at("width"), "0ns");
    const SetupFile s = Parsed(text);
    EXPECT_EQ(s.ticks, 83u);
    for (int ch = 1; ch <= qx480::CHANNEL_COUNT; ++ch) {
        EXPECT_EQ(s.channels[qx480::ChannelIndex(ch)].delay, block.channels[qx480::ChannelIndex(ch)].delay) << ch;
        EXPECT_EQ(s.channels[qx480::ChannelIndex(ch)].width, block.channels[qx480::ChannelIndex(ch)].width) << ch;
        EXPECT_FALSE(s.channels[qx480::ChannelIndex(ch)].on) << "the device does not report on/off";
    }
    EXPECT_FALSE(s.output || s.source);
}

TEST(ToolSetupFile, ReadsAFileWholeAndNamesOneThatIsNotThere) {
    tooltest::TempFolder folder;
    const std::string path = folder.Write("bench.json", R"({"qx480_setup": 1, "trigger": {"rate": "10kHz"}})");
    SetupFile setup;
    std::string error;
    ASSERT_TRUE(qx480::tool::ReadSetupFile(path, setup, error)) << error;
    EXPECT_EQ(setup.ticks, 25000u);
    const std::string missing = folder.File("missing.json");
    EXPECT_FALSE(qx480::tool::ReadSetupFile(missing, setup, error));
    EXPECT_EQ(error, missing + ": no such file");
    EXPECT_FALSE(qx480::tool::ReadSetupFile(folder.Path().string(), setup, error));
    EXPECT_EQ(error, folder.Path().string() + ": not a file");
    EXPECT_EQ(setup.ticks, 25000u) << "a refused file changes nothing";
}

}  // namespace
