// The simulated device's Responder on its own: the answers it gives, the
// state its writes change, what it refuses and how it finds frames in junk.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "frames.h"
#include "golden_frames.h"
#include "sim_test_helpers.h"

namespace {

using namespace simtest;
using qx480::sim::DeviceState;
using qx480::sim::Options;
using qx480::sim::Reply;
using qx480::sim::Responder;
using qx480::test::FrameOf;
using qx480::test::Hex;
using qx480::test::Parsed;
using qx480::test::U32;
using qx480::test::U64;
namespace golden = qx480::test::golden;

TEST(Responder, AnswersWithTheExactFrames) {
    Responder r;
    EXPECT_EQ(AnswerTo(r, golden::READ_TEMP.bytes), golden::READ_TEMP_ANSWER.bytes);
    EXPECT_EQ(AnswerTo(r, golden::SET_TRIGGER_SOFTWARE.bytes), golden::SET_TRIGGER_ACCEPTED.bytes);
    EXPECT_EQ(AnswerTo(r, golden::SOFTWARE_TRIG.bytes), golden::SOFTWARE_TRIG_ACCEPTED.bytes);
    EXPECT_EQ(AnswerTo(r, Hex("EB 90 06 00 01 00 00 82 01 CC")), golden::SET_TRIGGER_REFUSED.bytes);
}

TEST(Responder, AcceptedWritesChangeTheState) {
    Responder r;
    const Bytes writes[] = {
        FrameOf(SET_TRIGGER, TriggerModeOpt(QX480TriggerMode::External)),
        FrameOf(SET_TRIG_FREQ, 0, U32(25)),
        FrameOf(SET_CHANNEL, ChannelOpt(8, true)),
        FrameOf(SET_GLOBAL_OUTPUT, qx480::option::OUTPUT_ENABLE),
        FrameOf(SET_DELAY, 3, U64(1000)),
        FrameOf(SET_PULSE_WIDTH, 8, U64(1000000000000ULL)),
        FrameOf(SOFTWARE_TRIG, 0),
    };
    for (const Bytes& request : writes) {
        const QX480Frame answer = Parsed(AnswerTo(r, request));
        EXPECT_TRUE(IsWriteSuccess(answer)) << "cmd " << int(request[qx480::frame::CMD_OFFSET]);
        EXPECT_EQ(answer.cmd, request[qx480::frame::CMD_OFFSET]);
        EXPECT_EQ(answer.opt, qx480::option::RESPONSE_OK);
    }
    const DeviceState& s = r.State();
    EXPECT_EQ(s.triggerOpt, 2);
    EXPECT_EQ(s.block.triggerTicks, 25u);
    EXPECT_TRUE(s.channelOn[7]);
    EXPECT_FALSE(s.channelOn[0]);
    EXPECT_TRUE(s.globalOutput);
    EXPECT_EQ(s.block.channels[2].delay, 1000u);
    EXPECT_EQ(s.block.channels[7].width, 1000000000000ULL);
    EXPECT_EQ(s.softwareTriggers, 1u);

    Feed(r, FrameOf(SET_CHANNEL, ChannelOpt(8, false)));
    Feed(r, FrameOf(SET_GLOBAL_OUTPUT, qx480::option::OUTPUT_DISABLE));
    EXPECT_FALSE(r.State().channelOn[7]);
    EXPECT_FALSE(r.State().globalOutput);
}

TEST(Responder, RefusedRequestsAnswerOption2AndChangeNothing) {
    Options options;
    options.limits.minTriggerTicks = 100;
    options.limits.maxTriggerTicks = 1000;
    Responder r(options);
    const Bytes refused[] = {
        FrameOf(SET_TRIGGER, 0),
        FrameOf(SET_TRIGGER, 4),
        FrameOf(SET_TRIGGER, 1, {0}),
        FrameOf(SET_TRIG_FREQ, 0, U32(99)),
        FrameOf(SET_TRIG_FREQ, 0, U32(1001)),
        FrameOf(SET_TRIG_FREQ, 0, U64(500)),
        FrameOf(SET_CHANNEL, ChannelOpt(0, true)),
        FrameOf(SET_CHANNEL, ChannelOpt(9, true)),
        FrameOf(SET_CHANNEL, ChannelOpt(1, true) + 1),
        FrameOf(SET_GLOBAL_OUTPUT, 2),
        FrameOf(SET_DELAY, 0, U64(1)),
        FrameOf(SET_DELAY, 9, U64(1)),
        FrameOf(SET_DELAY, 0x0101, U64(1)),
        FrameOf(SET_DELAY, 1, U32(1)),
        FrameOf(SET_DELAY, 1, U64(1000000000001ULL)),
        FrameOf(SET_PULSE_WIDTH, 9, U64(1)),
        FrameOf(SET_PULSE_WIDTH, 1, U64(1000000000001ULL)),
        FrameOf(SOFTWARE_TRIG, 0, {1}),
        FrameOf(READ_TEMP, 0, {1}),
        FrameOf(0x42, 0),
    };
    const DeviceState before = r.State();
    for (const Bytes& request : refused) {
        const QX480Frame answer = Parsed(AnswerTo(r, request));
        EXPECT_TRUE(answer.valid);
        EXPECT_EQ(answer.cmd, request[qx480::frame::CMD_OFFSET]);
        EXPECT_EQ(answer.opt, qx480::option::RESPONSE_REFUSED) << "cmd " << int(answer.cmd);
        EXPECT_TRUE(answer.pa.empty());
    }
    EXPECT_TRUE(before == r.State());
    EXPECT_EQ(r.RequestCount(), sizeof refused / sizeof refused[0]);
}

TEST(Responder, EachTimeIsCheckedAgainstItsOwnLimit) {
    Options options;
    options.limits.maxDelayCounts = 100;
    options.limits.maxWidthCounts = 200;
    Responder r(options);
    const std::pair<Bytes, std::uint8_t> cases[] = {
        {FrameOf(SET_DELAY, 1, U64(100)), qx480::option::RESPONSE_OK},
        {FrameOf(SET_DELAY, 1, U64(101)), qx480::option::RESPONSE_REFUSED},
        {FrameOf(SET_PULSE_WIDTH, 1, U64(200)), qx480::option::RESPONSE_OK},
        {FrameOf(SET_PULSE_WIDTH, 1, U64(201)), qx480::option::RESPONSE_REFUSED},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parsed(AnswerTo(r, c.first)).opt, c.second) << "cmd " << int(c.first[qx480::frame::CMD_OFFSET]);
    }
    EXPECT_EQ(r.State().block.channels[0].delay, 100u);
    EXPECT_EQ(r.State().block.channels[0].width, 200u);
}

TEST(Responder, TimingBlockCarriesTheWholeState) {
    DeviceState s;
    for (int i = 0; i < 8; ++i) {
        s.block.channels[i].delay = 100 + i;
        s.block.channels[i].width = 0xFFFFFFFFFFFFFFF0ULL + i;
        s.block.channels[i].time140 = 0x1122334455667700ULL + i;
        s.block.channels[i].time204 = 300 + i;
    }
    s.block.word128 = 0xA1B2;
    s.block.byte130 = 0xC3;
    s.block.byte131 = 0xD4;
    s.block.triggerTicks = 0x01020304;
    s.block.byte136 = 0xE5;
    s.block.byte137 = 0xF6;
    s.block.word138 = 0x0708;
    s.block.float276 = -2.5f;
    Options options;
    options.state = s;
    Responder r(options);
    const QX480Frame f = Parsed(AnswerTo(r, FrameOf(READ_TIMING, 0)));
    EXPECT_EQ(f.cmd, READ_TIMING);
    EXPECT_EQ(f.opt, qx480::option::TIMING_RESPONSE);
    EXPECT_EQ(f.pa.size(), std::size_t(qx480::timing::BLOCK_SIZE));
    qx480::timing::Block b;
    ASSERT_TRUE(qx480::timing::Decode(f, b));
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(b.channels[i].delay, s.block.channels[i].delay);
        EXPECT_EQ(b.channels[i].width, s.block.channels[i].width);
        EXPECT_EQ(b.channels[i].time140, s.block.channels[i].time140);
        EXPECT_EQ(b.channels[i].time204, s.block.channels[i].time204);
    }
    EXPECT_EQ(b.word128, 0xA1B2);
    EXPECT_EQ(b.byte130, 0xC3);
    EXPECT_EQ(b.byte131, 0xD4);
    EXPECT_EQ(b.triggerTicks, 0x01020304u);
    EXPECT_EQ(b.byte136, 0xE5);
    EXPECT_EQ(b.byte137, 0xF6);
    EXPECT_EQ(b.word138, 0x0708);
    EXPECT_EQ(b.float276, -2.5f);
}

TEST(Responder, APowerOnDeviceReportsTheDefaultPeriodAndZerosElsewhere) {
    Responder r;
    qx480::timing::Block b;
    b.word128 = 1;
    ASSERT_TRUE(qx480::timing::Decode(Parsed(AnswerTo(r, FrameOf(READ_TIMING, 0))), b));
    qx480::timing::Block expected;
    expected.triggerTicks = qx480::sim::DEFAULT_TRIGGER_TICKS;
    EXPECT_EQ(qx480::timing::Encode(b), qx480::timing::Encode(expected));
    EXPECT_EQ(qx480::units::WireToFrequency(b.triggerTicks), 1000.0);
}

TEST(DeviceState, StatesDifferWhenAnyFieldDoes) {
    const DeviceState base;
    const std::vector<void (*)(DeviceState&)> changes{
        [](DeviceState& s) { s.block.channels[7].time204 = 1; }, [](DeviceState& s) { s.block.float276 = -0.0f; },
        [](DeviceState& s) { s.block.triggerTicks = 1; },        [](DeviceState& s) { s.channelOn[3] = true; },
        [](DeviceState& s) { s.globalOutput = true; },           [](DeviceState& s) { s.triggerOpt = 2; },
        [](DeviceState& s) { s.softwareTriggers = 1; },          [](DeviceState& s) { s.temperature = -s.temperature; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        DeviceState changed = base;
        changes[i](changed);
        EXPECT_TRUE(changed != base) << "change " << i;
        EXPECT_FALSE(changed == base) << "change " << i;
        EXPECT_TRUE(changed == DeviceState(changed)) << "change " << i;
    }
    DeviceState nan = base;
    nan.block.float276 = std::numeric_limits<float>::quiet_NaN();
    nan.temperature = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(nan == DeviceState(nan)) << "the same bits, as the device would send them";
}

TEST(Responder, InvalidFramesGetNoAnswerAndJunkIsSkipped) {
    Responder r;
    Bytes badSum = FrameOf(READ_TEMP, 0);
    badSum[7] ^= 1;
    Bytes badTail = FrameOf(READ_TEMP, 0);
    badTail.back() = 0xCD;
    const Bytes tooShort = Hex("EB 90 05 00 93 00 00 13 02 CC");
    for (const Bytes& bad : {badSum, badTail, tooShort}) EXPECT_TRUE(Feed(r, bad).empty());
    EXPECT_EQ(r.RequestCount(), 0u);

    // Junk, a bad frame and a false head in front of two good requests, one byte at a time.
    Bytes stream = Hex("00 CC 90 EB 12");
    stream.insert(stream.end(), badSum.begin(), badSum.end());
    stream.insert(stream.end(), {0xEB, 0xEB});  // EB EB 90: the head starts at the second EB
    const Bytes temp = FrameOf(READ_TEMP, 0);
    stream.insert(stream.end(), temp.begin() + 1, temp.end());
    const Bytes trig = FrameOf(SOFTWARE_TRIG, 0);
    stream.insert(stream.end(), trig.begin(), trig.end());
    std::vector<Reply> replies;
    for (std::uint8_t b : stream) {
        for (auto& reply : r.Feed(&b, 1)) replies.push_back(reply);
    }
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].request, temp);
    EXPECT_EQ(replies[1].request, trig);
    EXPECT_EQ(r.Requests(), (std::vector<Bytes>{temp, trig}));
    EXPECT_EQ(r.BytesReceived(), badSum.size() + badTail.size() + tooShort.size() + stream.size());
    EXPECT_FALSE(r.HasPartialFrame());
    r.ClearLog();
    EXPECT_EQ(r.RequestCount(), 0u);
    EXPECT_EQ(r.BytesReceived(), 0u);
    EXPECT_TRUE(r.Requests().empty());
}

TEST(Responder, DroppingAPartialFrameFreesTheRequestsBehindIt) {
    Responder r;
    EXPECT_TRUE(Feed(r, Hex("EB 90 FF FF 01")).empty());
    EXPECT_TRUE(r.HasPartialFrame());
    EXPECT_TRUE(Feed(r, FrameOf(READ_TEMP, 0)).empty());  // swallowed by the garbled length
    r.DropPartialFrame();
    EXPECT_EQ(Feed(r, FrameOf(READ_TEMP, 0)).size(), 1u);
}

TEST(Responder, TemperatureDriftStaysNearTheSetValue) {
    Options options;
    options.temperatureDrift = true;
    Responder r(options);
    float last = qx480::sim::DEFAULT_TEMPERATURE;
    bool moved = false;
    for (int i = 0; i < 500; ++i) {
        const float t = Parsed(AnswerTo(r, FrameOf(READ_TEMP, 0))).ReadFloat(0);
        EXPECT_LE(std::abs(t - last), 1.0f / 32);
        EXPECT_LE(std::abs(t - qx480::sim::DEFAULT_TEMPERATURE), 1.0f);
        moved = moved || t != last;
        last = t;
    }
    EXPECT_TRUE(moved);
}

}  // namespace
