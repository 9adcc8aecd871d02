// The timing diagram of the qx480 tool drawn from known timing blocks: the
// rows, the scale, the trigger period's mark and the width it keeps to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagram.h"
#include "units.h"

namespace {

using qx480::tool::DrawDiagram;
using qx480::tool::TimingDiagram;

constexpr std::uint64_t NS = 100;  // 10 ps counts
constexpr std::uint64_t US = 1000 * NS;

qx480::timing::Block Block(std::uint32_t ticks) {
    qx480::timing::Block block;
    block.triggerTicks = ticks;
    return block;
}

void SetPulse(qx480::timing::Block& block, int channel, std::uint64_t delay, std::uint64_t width) {
    block.channels[qx480::ChannelIndex(channel)].delay = delay;
    block.channels[qx480::ChannelIndex(channel)].width = width;
}

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(ToolDiagram, DrawsEachChannelsPulseOnOneAxisWithThePeriodMarked) {
    // A 1 ms period; channel 3's pulse runs 100 us past it, so the axis
    // needs 1.1 ms in 74 columns: 15 us per column, the period in column 66.
    qx480::timing::Block block = Block(250000);
    SetPulse(block, 1, 10 * NS, 100 * NS);
    SetPulse(block, 2, 1500 * NS, 250 * NS);
    SetPulse(block, 3, 900 * US, 200 * US);
    const TimingDiagram d = DrawDiagram(block, 80);

    const std::string shortPulse = "#" + Repeat('_', 65) + "|" + Repeat('_', 7);
    const std::string idle = Repeat('_', 66) + "|" + Repeat('_', 7);
    const std::vector<std::string> expected{
        "trigger period 1 ms (1 kHz), marked |; one column = 15 us",
        "     0" + Repeat(' ', 65) + "|1 ms",
        "ch 1 " + shortPulse,
        "ch 2 " + shortPulse,
        "ch 3 " + Repeat('_', 60) + Repeat('#', 14),
        "ch 4 " + idle,
        "ch 5 " + idle,
        "ch 6 " + idle,
        "ch 7 " + idle,
        "ch 8 " + idle,
        "channel 3 extends past the trigger period",
    };
    EXPECT_EQ(d.lines, expected);
    EXPECT_EQ(d.pastPeriod, std::vector<int>{3});
}

TEST(ToolDiagram, MarksTheAxisEndWhereThereIsRoom) {
    // 2 us in 74 columns: 30 ns per column, the period (1 us) in column 33.
    qx480::timing::Block block = Block(250);
    SetPulse(block, 1, 1 * US, 1 * US);
    const TimingDiagram d = DrawDiagram(block, 80);
    ASSERT_GE(d.lines.size(), 3u);
    EXPECT_EQ(d.lines[0], "trigger period 1 us (1 MHz), marked |; one column = 30 ns");
    EXPECT_EQ(d.lines[1], "     0" + Repeat(' ', 32) + "|1 us" + Repeat(' ', 29) + "2.22 us");
    EXPECT_EQ(d.lines[2], "ch 1 " + Repeat('_', 33) + Repeat('#', 34) + Repeat('_', 7));
}

TEST(ToolDiagram, PutsThePeriodAndTheScaleOnTwoLinesWhenNarrow) {
    const TimingDiagram d = DrawDiagram(Block(83), 40);
    ASSERT_GE(d.lines.size(), 2u);
    EXPECT_EQ(d.lines[0], "trigger period 332 ns (3.01204819 MHz),");
    EXPECT_EQ(d.lines[1], "marked |");
    EXPECT_EQ(d.lines[2], "one column = 10 ns");
}

TEST(ToolDiagram, NamesEveryChannelWhosePulseEndsAfterThePeriod) {
    qx480::timing::Block block = Block(25);  // 100 ns
    SetPulse(block, 1, 50 * NS, 51 * NS);
    SetPulse(block, 2, 0, 101 * NS);
    SetPulse(block, 4, 60 * NS, 40 * NS);  // ends on the period itself: within it
    SetPulse(block, 5, 200 * NS, 1);
    const TimingDiagram d = DrawDiagram(block, 80);
    EXPECT_EQ(d.pastPeriod, (std::vector<int>{1, 2, 5}));
    EXPECT_EQ(d.lines.back(), "channels 1, 2 and 5 extend past the trigger period");

    const TimingDiagram within = DrawDiagram(Block(25), 80);
    EXPECT_TRUE(within.pastPeriod.empty());
    EXPECT_EQ(within.lines.back(), "every pulse ends within the trigger period");
}

TEST(ToolDiagram, WithoutATriggerPeriodDrawsNoMark) {
    qx480::timing::Block block = Block(0);
    SetPulse(block, 6, 1 * US, 1 * US);
    const TimingDiagram d = DrawDiagram(block, 80);
    ASSERT_EQ(d.lines.size(), 10u);
    EXPECT_EQ(d.lines[0], "the device reports no trigger period; one column = 30 ns");
    for (const std::string& line : d.lines) EXPECT_EQ(line.find('|'), std::string::npos) << line;
    EXPECT_EQ(d.lines[7], "ch 6 " + Repeat('_', 33) + Repeat('#', 34) + Repeat('_', 7));
    EXPECT_TRUE(d.pastPeriod.empty());
}

TEST(ToolDiagram, KeepsToTheWidthForAnyTimes) {
    std::vector<qx480::timing::Block> blocks{Block(0), Block(1), Block(250000), Block(UINT32_MAX)};
    qx480::timing::Block longest = Block(UINT32_MAX);
    for (int ch = 1; ch <= qx480::CHANNEL_COUNT; ++ch) SetPulse(longest, ch, UINT64_MAX - 5, UINT64_MAX);
    blocks.push_back(longest);
    qx480::timing::Block spread = Block(1);
    for (int ch = 1; ch <= qx480::CHANNEL_COUNT; ++ch) SetPulse(spread, ch, static_cast<std::uint64_t>(ch) * US, 1);
    blocks.push_back(spread);
    for (std::size_t width : {qx480::tool::MIN_DIAGRAM_WIDTH, std::size_t{57}, std::size_t{80}, std::size_t{200},
                              qx480::tool::MAX_DIAGRAM_WIDTH}) {
        for (const qx480::timing::Block& block : blocks) {
            const TimingDiagram d = DrawDiagram(block, width);
            int rows = 0;
            for (const std::string& line : d.lines) {
                EXPECT_LE(line.size(), width) << line;
                if (line.compare(0, 3, "ch ") == 0) ++rows;
            }
            EXPECT_EQ(rows, qx480::CHANNEL_COUNT);
        }
    }
}

TEST(ToolDiagram, APulseShorterThanAColumnStillShows) {
    qx480::timing::Block block = Block(250000);
    SetPulse(block, 8, 500 * US, 1);  // 10 ps in a 15 us column: column 33
    const TimingDiagram d = DrawDiagram(block, 80);
    const std::string row = d.lines.at(9);
    EXPECT_EQ(row.find('#'), 5u + 33);
    EXPECT_EQ(row.find('#'), row.rfind('#'));
}

TEST(ToolDiagram, TheGeometryIsTheTextDiagramsAtAnyColumnCount) {
    // The first test's block on the panel's finer axis: 1.1 ms in 1000
    // columns gives 1.2 us per column, the period at column 833.
    qx480::timing::Block block = Block(250000);
    SetPulse(block, 1, 10 * NS, 100 * NS);
    SetPulse(block, 3, 900 * US, 200 * US);
    const qx480::tool::DiagramGeometry g = qx480::tool::LayOutDiagram(block, 1000);
    EXPECT_EQ(g.span, 1200 * NS);
    EXPECT_EQ(g.axisEnd, 1000 * 1200 * NS);
    EXPECT_EQ(g.periodColumn, 833u);
    EXPECT_TRUE(g.pulses[0].high);
    EXPECT_EQ(g.pulses[0].first, 0u);
    EXPECT_EQ(g.pulses[0].last, 0u);
    EXPECT_EQ(g.pulses[2].first, 750u);
    EXPECT_EQ(g.pulses[2].last, 916u);
    EXPECT_FALSE(g.pulses[1].high);
    EXPECT_EQ(g.pastPeriod, std::vector<int>{3});

    const qx480::tool::DiagramGeometry text = qx480::tool::LayOutDiagram(block, 74);
    EXPECT_EQ(text.span, 15 * US);
    EXPECT_EQ(text.periodColumn, 66u);
    EXPECT_EQ(text.pulses[2].first, 60u);
    EXPECT_EQ(text.pulses[2].last, 73u);

    qx480::timing::Block longest = Block(UINT32_MAX);
    SetPulse(longest, 1, UINT64_MAX - 5, UINT64_MAX);
    EXPECT_EQ(qx480::tool::LayOutDiagram(longest, 1000).axisEnd, UINT64_MAX);
}

}  // namespace
