// The simulated device: the Responder on its own, the pseudo-terminal device
// driven by raw reads and writes, and the qx480-sim program.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "commands.h"
#include "frame.h"
#include "serial_port.h"
#include "simulated_device.h"
#include "tty_exclusive.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using qx480::sim::DeviceState;
using qx480::sim::Echo;
using qx480::sim::Faults;
using qx480::sim::Options;
using qx480::sim::Reply;
using qx480::sim::Responder;
using qx480::sim::SimulatedDevice;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t SET_TRIGGER = qx480::CommandCode(QX480Command::SET_TRIGGER);
constexpr std::uint8_t SET_TRIG_FREQ = qx480::CommandCode(QX480Command::SET_TRIG_FREQ);
constexpr std::uint8_t SET_CHANNEL = qx480::CommandCode(QX480Command::SET_CHANNEL);
constexpr std::uint8_t SET_GLOBAL_OUTPUT = qx480::CommandCode(QX480Command::SET_GLOBAL_OUTPUT);
constexpr std::uint8_t SET_DELAY = qx480::CommandCode(QX480Command::SET_DELAY);
constexpr std::uint8_t SET_PULSE_WIDTH = qx480::CommandCode(QX480Command::SET_PULSE_WIDTH);
constexpr std::uint8_t SOFTWARE_TRIG = qx480::CommandCode(QX480Command::SOFTWARE_TRIG);
constexpr std::uint8_t READ_TEMP = qx480::CommandCode(QX480Command::READ_TEMP);
constexpr std::uint8_t READ_TIMING = qx480::CommandCode(QX480Command::READ_TIMING);

Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    unsigned v;
    while (in >> std::hex >> v) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

Bytes Request(std::uint8_t cmd, std::uint16_t opt, const Bytes& pa = {}) {
    Bytes out;
    qx480::BuildFrame(cmd, opt, pa.data(), static_cast<int>(pa.size()), out);
    return out;
}

Bytes U64(std::uint64_t v) {
    Bytes pa(8);
    qx480::PutU64(pa.data(), v);
    return pa;
}

Bytes U32(std::uint32_t v) {
    Bytes pa(4);
    qx480::PutU32(pa.data(), v);
    return pa;
}

Bytes F32(float v) {
    Bytes pa(4);
    qx480::PutF32(pa.data(), v);
    return pa;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Reply> Feed(Responder& r, const Bytes& bytes) { return r.Feed(bytes.data(), bytes.size()); }

// The bytes a reply puts on the line, chunks joined.
Bytes Wire(const Reply& reply) {
    Bytes out;
    for (const auto& chunk : reply.chunks) out.insert(out.end(), chunk.bytes.begin(), chunk.bytes.end());
    return out;
}

// The single answer to one request, as sent.
Bytes AnswerTo(Responder& r, const Bytes& request) {
    const auto replies = Feed(r, request);
    return replies.size() == 1 ? Wire(replies[0]) : Bytes{};
}

QX480Frame Parsed(const Bytes& frame) {
    QX480Frame f{};
    qx480::ParseFrame(frame.data(), static_cast<int>(frame.size()), f);
    return f;
}

const Bytes TEMP_REQUEST = Hex("EB 90 06 00 93 00 00 14 02 CC");
const Bytes TEMP_ANSWER = Hex("EB 90 0A 00 93 01 00 00 C0 EC 41 06 04 CC");

TEST(Responder, AnswersWithTheExactFrames) {
    Responder r;
    EXPECT_EQ(AnswerTo(r, Hex("EB 90 06 00 93 00 00 14 02 CC")), Hex("EB 90 0A 00 93 01 00 00 C0 EC 41 06 04 CC"));
    EXPECT_EQ(AnswerTo(r, Hex("EB 90 06 00 01 03 00 85 01 CC")), Hex("EB 90 06 00 01 01 00 83 01 CC"));
    EXPECT_EQ(AnswerTo(r, Hex("EB 90 06 00 14 00 00 95 01 CC")), Hex("EB 90 06 00 14 01 00 96 01 CC"));
    EXPECT_EQ(AnswerTo(r, Hex("EB 90 06 00 01 00 00 82 01 CC")), Hex("EB 90 06 00 01 02 00 84 01 CC"));
}

TEST(Responder, AcceptedWritesChangeTheState) {
    Responder r;
    const Bytes writes[] = {
        Request(SET_TRIGGER, TriggerModeOpt(QX480TriggerMode::External)),
        Request(SET_TRIG_FREQ, 0, U32(25)),
        Request(SET_CHANNEL, ChannelOpt(8, true)),
        Request(SET_GLOBAL_OUTPUT, qx480::option::OUTPUT_ENABLE),
        Request(SET_DELAY, 3, U64(1000)),
        Request(SET_PULSE_WIDTH, 8, U64(1000000000000ULL)),
        Request(SOFTWARE_TRIG, 0),
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

    Feed(r, Request(SET_CHANNEL, ChannelOpt(8, false)));
    Feed(r, Request(SET_GLOBAL_OUTPUT, qx480::option::OUTPUT_DISABLE));
    EXPECT_FALSE(r.State().channelOn[7]);
    EXPECT_FALSE(r.State().globalOutput);
}

TEST(Responder, RefusedRequestsAnswerOption2AndChangeNothing) {
    Options options;
    options.limits.minTriggerTicks = 100;
    options.limits.maxTriggerTicks = 1000;
    Responder r(options);
    const Bytes refused[] = {
        Request(SET_TRIGGER, 0),
        Request(SET_TRIGGER, 4),
        Request(SET_TRIGGER, 1, {0}),
        Request(SET_TRIG_FREQ, 0, U32(99)),
        Request(SET_TRIG_FREQ, 0, U32(1001)),
        Request(SET_TRIG_FREQ, 0, U64(500)),
        Request(SET_CHANNEL, ChannelOpt(0, true)),
        Request(SET_CHANNEL, ChannelOpt(9, true)),
        Request(SET_CHANNEL, ChannelOpt(1, true) + 1),
        Request(SET_GLOBAL_OUTPUT, 2),
        Request(SET_DELAY, 0, U64(1)),
        Request(SET_DELAY, 9, U64(1)),
        Request(SET_DELAY, 0x0101, U64(1)),
        Request(SET_DELAY, 1, U32(1)),
        Request(SET_DELAY, 1, U64(1000000000001ULL)),
        Request(SET_PULSE_WIDTH, 9, U64(1)),
        Request(SET_PULSE_WIDTH, 1, U64(1000000000001ULL)),
        Request(SOFTWARE_TRIG, 0, {1}),
        Request(READ_TEMP, 0, {1}),
        Request(0x42, 0),
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
        {Request(SET_DELAY, 1, U64(100)), qx480::option::RESPONSE_OK},
        {Request(SET_DELAY, 1, U64(101)), qx480::option::RESPONSE_REFUSED},
        {Request(SET_PULSE_WIDTH, 1, U64(200)), qx480::option::RESPONSE_OK},
        {Request(SET_PULSE_WIDTH, 1, U64(201)), qx480::option::RESPONSE_REFUSED},
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
    const QX480Frame f = Parsed(AnswerTo(r, Request(READ_TIMING, 0)));
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
    ASSERT_TRUE(qx480::timing::Decode(Parsed(AnswerTo(r, Request(READ_TIMING, 0))), b));
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
    Bytes badSum = Request(READ_TEMP, 0);
    badSum[7] ^= 1;
    Bytes badTail = Request(READ_TEMP, 0);
    badTail.back() = 0xCD;
    const Bytes tooShort = Hex("EB 90 05 00 93 00 00 13 02 CC");
    for (const Bytes& bad : {badSum, badTail, tooShort}) EXPECT_TRUE(Feed(r, bad).empty());
    EXPECT_EQ(r.RequestCount(), 0u);

    // Junk, a bad frame and a false head in front of two good requests, one byte at a time.
    Bytes stream = Hex("00 CC 90 EB 12");
    stream.insert(stream.end(), badSum.begin(), badSum.end());
    stream.insert(stream.end(), {0xEB, 0xEB});  // EB EB 90: the head starts at the second EB
    const Bytes temp = Request(READ_TEMP, 0);
    stream.insert(stream.end(), temp.begin() + 1, temp.end());
    const Bytes trig = Request(SOFTWARE_TRIG, 0);
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
    EXPECT_TRUE(Feed(r, Request(READ_TEMP, 0)).empty());  // swallowed by the garbled length
    r.DropPartialFrame();
    EXPECT_EQ(Feed(r, Request(READ_TEMP, 0)).size(), 1u);
}

TEST(Responder, FaultsShapeTheOutput) {
    const Bytes temp = Request(READ_TEMP, 0);
    const Bytes answer = Hex("EB 90 0A 00 93 01 00 00 C0 EC 41 06 04 CC");
    Responder r;
    Faults f;
    f.strayBytes = 9;
    f.pieces = 3;
    f.pieceGapMs = 7;
    f.answerDelayMs = 40;
    ASSERT_TRUE(r.SetFaults(f));
    auto replies = Feed(r, temp);
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].chunks.size(), 3u);
    EXPECT_EQ(replies[0].chunks[0].delayMs, 40);
    EXPECT_EQ(replies[0].chunks[1].delayMs, 7);
    EXPECT_EQ(replies[0].chunks[2].delayMs, 7);
    const Bytes wire = Wire(replies[0]);
    ASSERT_EQ(wire.size(), 9 + answer.size());
    EXPECT_EQ(Bytes(wire.begin() + 9, wire.end()), answer);
    for (std::size_t i = 0; i + 1 < 9; ++i) EXPECT_FALSE(wire[i] == 0xEB && wire[i + 1] == 0x90) << i;
    EXPECT_EQ(replies[0].response, answer);

    f = Faults();
    f.dropEvery = 2;
    f.corruptEvery = 2;
    ASSERT_TRUE(r.SetFaults(f));
    const Bytes trig = Request(SOFTWARE_TRIG, 0);
    std::vector<Bytes> wires;
    for (int i = 0; i < 5; ++i) wires.push_back(AnswerTo(r, trig));
    EXPECT_TRUE(Parsed(wires[0]).valid);
    EXPECT_TRUE(wires[1].empty());
    EXPECT_FALSE(Parsed(wires[2]).valid);  // the second response sent
    EXPECT_TRUE(wires[3].empty());
    EXPECT_TRUE(Parsed(wires[4]).valid);
    EXPECT_EQ(r.State().softwareTriggers, 3u);  // dropped requests are not carried out

    f = Faults();
    f.shortLength = true;
    ASSERT_TRUE(r.SetFaults(f));
    const Bytes shortened = AnswerTo(r, temp);
    ASSERT_GE(shortened.size(), 4u);
    EXPECT_LT(qx480::GetU16(&shortened[qx480::frame::LEN_OFFSET]), qx480::frame::MIN_LEN);

    f.shortLength = false;
    f.strayBytes = -1;
    EXPECT_FALSE(r.SetFaults(f));
    EXPECT_TRUE(r.GetFaults().shortLength);
}

TEST(Responder, HangsUpAfterTheNthRequestUntilANewSession) {
    Responder r;
    Faults f;
    f.hangUpAfter = 2;
    ASSERT_TRUE(r.SetFaults(f));
    const Bytes temp = Request(READ_TEMP, 0);
    Bytes three = temp;
    for (int i = 0; i < 2; ++i) three.insert(three.end(), temp.begin(), temp.end());
    const auto replies = Feed(r, three);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_FALSE(replies[0].hangUp);
    EXPECT_TRUE(replies[1].hangUp);
    EXPECT_FALSE(replies[1].chunks.empty());  // the Nth request is still answered
    EXPECT_TRUE(r.HungUp());
    EXPECT_TRUE(Feed(r, temp).empty());
    r.BeginSession();
    EXPECT_FALSE(r.HungUp());
    EXPECT_EQ(Feed(r, temp).size(), 1u);
}

TEST(Responder, ForeignFramesGoRoundTheOtherCommandsBeforeTheResponse) {
    Options options;
    options.state.temperature = 21.5f;
    options.state.block.channels[2].delay = 4242;
    options.faults.foreignFrames = 9;
    options.faults.strayBytes = 3;
    options.faults.pieces = 2;
    options.faults.pieceGapMs = 5;
    options.faults.corruptEvery = 1;
    Responder r(options);
    const Bytes timing =
        Request(READ_TIMING, qx480::option::TIMING_RESPONSE, qx480::timing::Encode(options.state.block));
    const Bytes temperature = Request(READ_TEMP, qx480::option::TEMP_RESPONSE, F32(21.5f));
    auto accepted = [](std::uint8_t cmd) { return Request(cmd, qx480::option::RESPONSE_OK); };

    auto replies = Feed(r, Request(READ_TEMP, 0));
    ASSERT_EQ(replies.size(), 1u);
    const Bytes foreign = accepted(SET_TRIGGER) + accepted(SET_TRIG_FREQ) + accepted(SET_CHANNEL) +
                          accepted(SET_GLOBAL_OUTPUT) + accepted(SET_DELAY) + accepted(SET_PULSE_WIDTH) +
                          accepted(SOFTWARE_TRIG) + timing + accepted(SET_TRIGGER);
    const Bytes& response = replies[0].response;
    ASSERT_EQ(response.size(), TEMP_ANSWER.size());
    EXPECT_FALSE(Parsed(response).valid);  // faults spoil the response only, never the foreign frames
    ASSERT_EQ(replies[0].chunks.size(), 2u);
    EXPECT_EQ(replies[0].chunks[0].bytes, foreign + Hex("55 CC 90") + Bytes(response.begin(), response.begin() + 7));
    EXPECT_EQ(replies[0].chunks[1].bytes, Bytes(response.begin() + 7, response.end()));
    EXPECT_EQ(replies[0].chunks[1].delayMs, 5);

    // SetFaults starts the round anew; from one request to the next it goes
    // on where it stopped, skipping each request's own code.
    Faults f;
    f.foreignFrames = 3;
    ASSERT_TRUE(r.SetFaults(f));
    EXPECT_EQ(AnswerTo(r, Request(SET_TRIGGER, 1)),
              accepted(SET_TRIG_FREQ) + accepted(SET_CHANNEL) + accepted(SET_GLOBAL_OUTPUT) + accepted(SET_TRIGGER));
    EXPECT_EQ(AnswerTo(r, Request(SET_DELAY, 1, U64(7))),
              accepted(SET_PULSE_WIDTH) + accepted(SOFTWARE_TRIG) + temperature + accepted(SET_DELAY));
    ASSERT_EQ(r.State().block.channels[0].delay, 7u);  // the timing block reports the state of now
    const Bytes timingNow =
        Request(READ_TIMING, qx480::option::TIMING_RESPONSE, qx480::timing::Encode(r.State().block));
    EXPECT_EQ(AnswerTo(r, Request(SOFTWARE_TRIG, 0)),
              timingNow + accepted(SET_TRIGGER) + accepted(SET_TRIG_FREQ) + accepted(SOFTWARE_TRIG));
    EXPECT_EQ(r.State().softwareTriggers, 1u);  // late answers carry nothing out

    f.dropEvery = 1;
    ASSERT_TRUE(r.SetFaults(f));
    EXPECT_TRUE(AnswerTo(r, Request(SET_TRIGGER, 1)).empty());  // no response, no late answers either
}

TEST(Responder, LoopbackSendsEveryByteBackAndAnswersNothing) {
    Options options;
    options.faults.echo = Echo::Loopback;
    options.faults.strayBytes = 5;
    options.faults.foreignFrames = 3;
    options.faults.answerDelayMs = 50;
    Responder r(options);
    const Bytes setDelay = Request(SET_DELAY, 1, U64(500));
    const Bytes first = Hex("01 EB 02") + setDelay + Bytes(TEMP_REQUEST.begin(), TEMP_REQUEST.begin() + 4);
    auto replies = Feed(r, first);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_TRUE(replies[0].request.empty());
    ASSERT_EQ(replies[0].chunks.size(), 1u);
    EXPECT_EQ(replies[0].chunks[0].delayMs, 0);
    EXPECT_EQ(replies[0].chunks[0].bytes, first);
    EXPECT_EQ(replies[1].request, setDelay);
    EXPECT_TRUE(replies[1].response.empty());
    EXPECT_TRUE(replies[1].chunks.empty());

    const Bytes rest(TEMP_REQUEST.begin() + 4, TEMP_REQUEST.end());
    replies = Feed(r, rest);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(Wire(replies[0]), rest);
    EXPECT_EQ(replies[1].request, TEMP_REQUEST);
    EXPECT_TRUE(Wire(replies[1]).empty());
    EXPECT_TRUE(r.State() == DeviceState());
    EXPECT_EQ(r.Requests(), (std::vector<Bytes>{setDelay, TEMP_REQUEST}));

    Faults f;
    f.echo = Echo::Loopback;
    f.hangUpAfter = 1;
    ASSERT_TRUE(r.SetFaults(f));
    replies = Feed(r, TEMP_REQUEST);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_TRUE(replies[1].hangUp);
    EXPECT_TRUE(Feed(r, TEMP_REQUEST).empty());  // the line is closed: nothing comes back
}

TEST(Responder, LocalEchoSendsEachRequestBackBeforeItsAnswer) {
    Options options;
    options.faults.echo = Echo::LocalEcho;
    options.faults.answerDelayMs = 30;
    options.faults.pieces = 2;
    options.faults.dropEvery = 2;
    Responder r(options);
    auto replies = Feed(r, TEMP_REQUEST);
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].chunks.size(), 3u);
    EXPECT_EQ(replies[0].chunks[0].delayMs, 0);
    EXPECT_EQ(replies[0].chunks[0].bytes, TEMP_REQUEST);
    EXPECT_EQ(replies[0].chunks[1].delayMs, 30);
    EXPECT_EQ(Wire(replies[0]), TEMP_REQUEST + TEMP_ANSWER);
    EXPECT_EQ(replies[0].response, TEMP_ANSWER);

    replies = Feed(r, TEMP_REQUEST);  // dropped: the echo comes back all the same
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].response.empty());
    EXPECT_EQ(Wire(replies[0]), TEMP_REQUEST);

    EXPECT_TRUE(Feed(r, Hex("01 02 03")).empty());  // only request frames are echoed
    const Bytes trigger = Request(SOFTWARE_TRIG, 0);
    EXPECT_EQ(AnswerTo(r, trigger), trigger + Request(SOFTWARE_TRIG, qx480::option::RESPONSE_OK));
    EXPECT_EQ(r.State().softwareTriggers, 1u);
}

TEST(Responder, RefusesFaultsOutOfRange) {
    Responder r;
    Faults f;
    f.foreignFrames = qx480::sim::MAX_FOREIGN_FRAMES;
    f.echo = Echo::LocalEcho;
    EXPECT_TRUE(qx480::sim::Valid(f));
    std::vector<Faults> bad(6, f);
    bad[0].foreignFrames = -1;
    bad[1].foreignFrames = qx480::sim::MAX_FOREIGN_FRAMES + 1;
    bad[2].echo = static_cast<Echo>(3);
    bad[3].echo = static_cast<Echo>(-1);
    bad[4].answerDelayMs = -1;
    bad[5].strayBytes = qx480::sim::MAX_STRAY_BYTES + 1;
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(qx480::sim::Valid(bad[i])) << i;
        EXPECT_FALSE(r.SetFaults(bad[i])) << i;
    }
    EXPECT_EQ(r.GetFaults().echo, Echo::Off);
    EXPECT_TRUE(r.SetFaults(f));
    EXPECT_EQ(r.GetFaults().foreignFrames, qx480::sim::MAX_FOREIGN_FRAMES);
}

TEST(Responder, TemperatureDriftStaysNearTheSetValue) {
    Options options;
    options.temperatureDrift = true;
    Responder r(options);
    float last = qx480::sim::DEFAULT_TEMPERATURE;
    bool moved = false;
    for (int i = 0; i < 500; ++i) {
        const float t = Parsed(AnswerTo(r, Request(READ_TEMP, 0))).ReadFloat(0);
        EXPECT_LE(std::abs(t - last), 1.0f / 32);
        EXPECT_LE(std::abs(t - qx480::sim::DEFAULT_TEMPERATURE), 1.0f);
        moved = moved || t != last;
        last = t;
    }
    EXPECT_TRUE(moved);
}

// A host end opened with plain open() and termios, independent of SerialPort.
class RawHost {
public:
    explicit RawHost(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios tio{};
        if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~RawHost() {
        if (m_fd >= 0) close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    bool Write(const Bytes& b) { return write(m_fd, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }
    // Reads until `count` bytes came, the line hangs up or timeoutMs passed.
    Bytes Read(std::size_t count, int timeoutMs = 2000) {
        Bytes out;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count && Clock::now() < end) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            std::uint8_t buf[512];
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n > 0) out.insert(out.end(), buf, buf + n);
            if ((p.revents & POLLHUP) != 0 && n <= 0) break;
        }
        return out;
    }
    bool HungUp(int timeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLHUP) != 0;
    }

private:
    int m_fd;
};

TEST(SimulatedDevice, ServesAPseudoTerminalAndStopsPromptly) {
    SimulatedDevice sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    EXPECT_FALSE(sim.Start());
    struct stat st {};
    ASSERT_EQ(stat(sim.Path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    {
        RawHost host(sim.Path());
        ASSERT_TRUE(host.ok());
        Bytes junkAndRequests = Hex("01 02 03");
        junkAndRequests.insert(junkAndRequests.end(), TEMP_REQUEST.begin(), TEMP_REQUEST.end());
        ASSERT_TRUE(host.Write(junkAndRequests));
        EXPECT_EQ(host.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
        ASSERT_TRUE(host.Write(Request(SET_DELAY, 2, U64(777))));
        EXPECT_TRUE(IsWriteSuccess(Parsed(host.Read(10))));
        EXPECT_EQ(sim.State().block.channels[1].delay, 777u);
        EXPECT_EQ(sim.Requests(), (std::vector<Bytes>{TEMP_REQUEST, Request(SET_DELAY, 2, U64(777))}));
        EXPECT_EQ(sim.BytesReceived(), junkAndRequests.size() + 18);
    }
    // With no host on the port the device idles instead of spinning on the hang-up.
    const std::clock_t cpu = std::clock();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10);
    {
        RawHost again(sim.Path());
        ASSERT_TRUE(again.Write(TEMP_REQUEST));
        EXPECT_EQ(again.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
    }
    Faults slow;
    slow.answerDelayMs = 60000;
    ASSERT_TRUE(sim.SetFaults(slow));
    RawHost host(sim.Path());
    ASSERT_TRUE(host.Write(TEMP_REQUEST));
    ASSERT_TRUE(sim.WaitForRequests(3, 2000));
    const auto start = Clock::now();
    sim.Stop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(sim.Running());
    EXPECT_TRUE(host.HungUp(1000));
}

TEST(SimulatedDevice, FaultsReachTheLine) {
    Options options;
    options.faults.strayBytes = 4;
    options.faults.pieces = 4;
    options.faults.pieceGapMs = 5;
    SimulatedDevice sim(options);
    ASSERT_TRUE(sim.Start());
    RawHost host(sim.Path());
    ASSERT_TRUE(host.Write(TEMP_REQUEST));
    const Bytes got = host.Read(4 + TEMP_ANSWER.size());
    ASSERT_EQ(got.size(), 4 + TEMP_ANSWER.size());
    EXPECT_EQ(Bytes(got.begin() + 4, got.end()), TEMP_ANSWER);
    ASSERT_TRUE(sim.SetFaults(Faults()));
    ASSERT_TRUE(host.Write(TEMP_REQUEST));
    EXPECT_EQ(host.Read(TEMP_ANSWER.size()), TEMP_ANSWER);

    Faults late;
    late.foreignFrames = 2;
    late.strayBytes = 2;
    late.pieces = 3;
    late.pieceGapMs = 5;
    ASSERT_TRUE(sim.SetFaults(late));
    ASSERT_TRUE(host.Write(TEMP_REQUEST));
    const Bytes expected = Request(SET_TRIGGER, qx480::option::RESPONSE_OK) +
                           Request(SET_TRIG_FREQ, qx480::option::RESPONSE_OK) + Hex("55 CC") + TEMP_ANSWER;
    EXPECT_EQ(host.Read(expected.size()), expected);
}

TEST(SimulatedDevice, EchoModesReachTheLine) {
    Options options;
    options.faults.echo = Echo::Loopback;
    SimulatedDevice sim(options);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    RawHost host(sim.Path());
    const Bytes written = Hex("00 EB 7F") + TEMP_REQUEST;
    ASSERT_TRUE(host.Write(written));
    ASSERT_TRUE(sim.WaitForRequests(1, 2000));
    // Asking for one byte more shows that nothing follows the echo.
    EXPECT_EQ(host.Read(written.size() + 1, 300), written);
    EXPECT_EQ(sim.Requests(), std::vector<Bytes>{TEMP_REQUEST});

    Faults local;
    local.echo = Echo::LocalEcho;
    ASSERT_TRUE(sim.SetFaults(local));
    const Bytes setDelay = Request(SET_DELAY, 5, U64(900));
    ASSERT_TRUE(host.Write(setDelay));
    const Bytes expected = setDelay + Request(SET_DELAY, qx480::option::RESPONSE_OK);
    EXPECT_EQ(host.Read(expected.size()), expected);
    EXPECT_EQ(sim.State().block.channels[4].delay, 900u);
}

// A request that arrives while the device holds back a late answer waits in
// the line and is answered right after it, in order.
TEST(SimulatedDevice, AnswersTheNextRequestRightAfterALateAnswer) {
    Options options;
    options.faults.answerDelayMs = 1050;
    SimulatedDevice sim(options);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    RawHost host(sim.Path());
    const auto sent = Clock::now();
    ASSERT_TRUE(host.Write(TEMP_REQUEST));
    ASSERT_TRUE(sim.WaitForRequests(1, 1000));
    ASSERT_TRUE(sim.SetFaults(Faults()));  // from the next request on, answers come at once
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    EXPECT_TRUE(host.Read(1, 1000 - static_cast<int>(waited.count())).empty());

    const Bytes setWidth = Request(SET_PULSE_WIDTH, 2, U64(31415));
    ASSERT_TRUE(host.Write(setWidth));
    const Bytes answers = TEMP_ANSWER + Request(SET_PULSE_WIDTH, qx480::option::RESPONSE_OK);
    EXPECT_EQ(host.Read(answers.size(), 1500), answers);
    const auto took = Clock::now() - sent;
    EXPECT_GE(took, std::chrono::milliseconds(1050));
    EXPECT_LT(took, std::chrono::milliseconds(1050 + 500));  // the second answer follows the late one at once
    EXPECT_EQ(sim.Requests(), (std::vector<Bytes>{TEMP_REQUEST, setWidth}));
    EXPECT_EQ(sim.State().block.channels[1].width, 31415u);
}

TEST(SimulatedDevice, HangsUpAfterNRequestsAndRestartsOnANewPath) {
    Options options;
    options.faults.hangUpAfter = 2;
    SimulatedDevice sim(options);
    ASSERT_TRUE(sim.Start());
    const std::string first = sim.Path();
    RawHost host(first);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(host.Write(TEMP_REQUEST));
        EXPECT_EQ(host.Read(TEMP_ANSWER.size()), TEMP_ANSWER) << "request " << i + 1;
    }
    EXPECT_TRUE(host.HungUp(2000));
    for (int i = 0; i < 100 && sim.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(sim.HungUp());
    EXPECT_FALSE(sim.Running());
    EXPECT_EQ(sim.RequestCount(), 2u);

    ASSERT_TRUE(sim.Start());  // the old slave is still open here, so its name cannot be reused
    EXPECT_NE(sim.Path(), first);
    EXPECT_FALSE(sim.HungUp());
    RawHost next(sim.Path());
    ASSERT_TRUE(next.Write(TEMP_REQUEST));
    EXPECT_EQ(next.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
}

TEST(SimulatedDevice, MakesAndRemovesItsLinkButNeverReplacesAFile) {
    char dir[] = "/tmp/qx480-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    Options options;
    options.linkPath = std::string(dir) + "/port";
    {
        SimulatedDevice sim(options);
        ASSERT_TRUE(sim.Start()) << sim.Error();
        char target[256] = {};
        ASSERT_GT(readlink(options.linkPath.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim.Path());
        RawHost host(options.linkPath);
        ASSERT_TRUE(host.Write(TEMP_REQUEST));
        EXPECT_EQ(host.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
    }
    struct stat st {};
    EXPECT_NE(lstat(options.linkPath.c_str(), &st), 0);

    const int file = open(options.linkPath.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(file, 0);
    close(file);
    SimulatedDevice refused(options);
    EXPECT_FALSE(refused.Start());
    EXPECT_NE(refused.Error().find(options.linkPath), std::string::npos);
    ASSERT_EQ(lstat(options.linkPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    unlink(options.linkPath.c_str());
    rmdir(dir);
}

TEST(SimulatedDevice, ServesAnExistingTerminalUntilItGoesAway) {
    SimulatedDevice notTty;
    EXPECT_FALSE(notTty.ServeTty("/dev/null"));
    EXPECT_FALSE(notTty.Error().empty());

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    SimulatedDevice sim;
    ASSERT_TRUE(sim.ServeTty(ptsname(master))) << sim.Error();
    ASSERT_EQ(write(master, TEMP_REQUEST.data(), TEMP_REQUEST.size()), ssize_t(TEMP_REQUEST.size()));
    Bytes got(TEMP_ANSWER.size());
    std::size_t have = 0;
    while (have < got.size()) {
        pollfd p{master, POLLIN, 0};
        ASSERT_GT(poll(&p, 1, 2000), 0);
        const ssize_t n = read(master, got.data() + have, got.size() - have);
        ASSERT_GT(n, 0);
        have += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(got, TEMP_ANSWER);
    close(master);
    for (int i = 0; i < 200 && sim.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(sim.Running());
    EXPECT_FALSE(sim.HungUp());
}

TEST(SimulatedDevice, RefusesInvalidOptions) {
    Options options;
    options.faults.dropEvery = -1;
    SimulatedDevice sim(options);
    EXPECT_FALSE(sim.Start());
    EXPECT_FALSE(sim.Error().empty());
    qx480::sim::Limits limits;
    limits.minTriggerTicks = 10;
    limits.maxTriggerTicks = 9;
    EXPECT_FALSE(sim.SetLimits(limits));
}

// Exit status of a child whose privileges could not be dropped; errno values stay below it.
constexpr int CANNOT_DROP = 255;
constexpr uid_t NOBODY = 65534;

// 0 when a process of uid and gid 65534, without groups, can open `path`;
// else the errno of its attempt (-1 when the child died).
int OpenAsNobody(const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0) _exit(CANNOT_DROP);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child process that opens `path` with SerialPort (flock and exclusive
// mode) and holds it until it is killed. Its pid once the port is open, or -1.
pid_t StartHost(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        SerialPort port;
        const char opened = port.Open(path.c_str(), 115200, 8, StopBits::One, Parity::None) ? 1 : 0;
        if (write(ready[1], &opened, 1) != 1 || !opened) _exit(1);
        for (;;) pause();
    }
    close(ready[1]);
    char opened = 0;
    pollfd p{ready[0], POLLIN, 0};
    const bool told = pid > 0 && poll(&p, 1, 5000) == 1 && read(ready[0], &opened, 1) == 1;
    close(ready[0]);
    if (told && opened) return pid;
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return -1;
}

#if defined(__linux__) && defined(TIOCGEXCL)
bool Exclusive(int fd) {
    int on = 0;
    return ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
}

TEST(TtyExclusive, ClearsExclusiveModeOnlyWhileNoFlockHoldsTheTerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int device = open(ptsname(master), O_RDWR | O_NOCTTY);
    const int host = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(device, 0);
    ASSERT_GE(host, 0);

    EXPECT_FALSE(qx480::sim::ClearOrphanedExclusive(device));  // nothing to clear
    ASSERT_EQ(flock(host, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(ioctl(host, TIOCEXCL), 0);
    EXPECT_FALSE(qx480::sim::ClearOrphanedExclusive(device));
    EXPECT_TRUE(Exclusive(device));
    ASSERT_EQ(flock(host, LOCK_UN), 0);
    EXPECT_TRUE(qx480::sim::ClearOrphanedExclusive(device));
    EXPECT_FALSE(Exclusive(device));

    // A lock on another terminal does not count.
    const int other = open("/dev/ptmx", O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(ioctl(host, TIOCEXCL), 0);
    EXPECT_TRUE(qx480::sim::ClearOrphanedExclusive(device));
    EXPECT_FALSE(Exclusive(device));
    for (int fd : {other, host, device, master}) close(fd);
}
#endif

TEST(SimulatedDevice, ClearsTheExclusiveModeAKilledHostLeftBehind) {
    if (geteuid() != 0) GTEST_SKIP() << "opening the port as another user needs root to drop privileges";
    SimulatedDevice sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    const std::string path = sim.Path();
    // The pseudo-terminal's mode would keep uid 65534 out; here only exclusive mode may refuse it.
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(OpenAsNobody(path), 0);

    const pid_t host = StartHost(path);
    ASSERT_GT(host, 0);
    // Over several of the device's checks a live host keeps its hold.
    int attempts = 0;
    int admitted = 0;
    for (const auto end = Clock::now() + std::chrono::milliseconds(500); Clock::now() < end; ++attempts) {
        if (OpenAsNobody(path) != EBUSY) ++admitted;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(admitted, 0) << "of " << attempts;

    ASSERT_EQ(kill(host, SIGKILL), 0);
    ASSERT_EQ(waitpid(host, nullptr, 0), host);
    const auto killed = Clock::now();
    int error = OpenAsNobody(path);
    while (error != 0 && Clock::now() - killed < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        error = OpenAsNobody(path);
    }
    EXPECT_EQ(error, 0) << std::strerror(error);

    RawHost next(path);
    ASSERT_TRUE(next.Write(TEMP_REQUEST));
    EXPECT_EQ(next.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
}

// Runs qx480-sim with `args`; its stdout and stderr come through pipes.
struct Program {
    pid_t pid = -1;
    int out = -1;
    int err = -1;

    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), QX480_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        int o[2], e[2];
        if (pipe(o) != 0 || pipe(e) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, o[1], 1);
        posix_spawn_file_actions_adddup2(&actions, e[1], 2);
        posix_spawn_file_actions_addclose(&actions, o[0]);
        posix_spawn_file_actions_addclose(&actions, e[0]);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(o[1]);
        close(e[1]);
        out = o[0];
        err = e[0];
    }
    ~Program() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(out);
        close(err);
    }
    // Reads fd until EOF, or until a newline when `oneLine`, within 5 s.
    static std::string Drain(int fd, bool oneLine = false) {
        std::string text;
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < end && !(oneLine && text.find('\n') != std::string::npos)) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buf[256];
            const ssize_t n = read(fd, buf, oneLine ? 1 : sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        return text;
    }
    int Wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST(SimProgram, BadArgumentsGiveOneLineAndStatus2) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--bogus"},
                                                                  {"--stray", "x"},
                                                                  {"--hang-up-after"},
                                                                  {"--port", "/dev/null", "--link", "/tmp/x"},
                                                                  {"--echo", "on"},
                                                                  {"--foreign-frames", "4097"},
                                                                  {"--word128", "65536"},
                                                                  {"--byte131", "256"},
                                                                  {"--time140", "1,2"},
                                                                  {"--float276", "nan"}}) {
        Program p(args);
        ASSERT_GT(p.pid, 0);
        const std::string err = Program::Drain(p.err);
        EXPECT_EQ(p.Wait(), 2) << args[0];
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(args[0]), std::string::npos) << err;
        EXPECT_TRUE(Program::Drain(p.out).empty());
    }
    Program help({"--help"});
    const std::string usage = Program::Drain(help.out);
    for (const char* flag : {"--hang-up-after", "--foreign-frames", "--echo"}) {
        EXPECT_NE(usage.find(flag), std::string::npos) << flag;
    }
    EXPECT_EQ(help.Wait(), 0);
}

// Each field of the block that no command sets has a flag, listed in the block's order.
TEST(SimProgram, HelpHasAFlagForEachFieldNoCommandSetsInTheBlocksOrder) {
    Program help({"--help"});
    const std::string usage = Program::Drain(help.out);
    ASSERT_EQ(help.Wait(), 0);
    std::vector<std::pair<int, std::string>> fields;
    for (const auto& f : qx480::timing::DEVICE_FIELDS) fields.push_back({f.offset, f.setByCommand ? "" : f.name});
    for (const auto& f : qx480::timing::CHANNEL_FIELDS) fields.push_back({f.offset, f.setByCommand ? "" : f.name});
    std::sort(fields.begin(), fields.end());
    std::size_t last = 0;
    int flags = 0;
    for (const auto& field : fields) {
        if (field.second.empty()) continue;
        const std::size_t at = usage.find("\n  --" + field.second + " ");
        ASSERT_NE(at, std::string::npos) << field.second;
        EXPECT_GT(at, last) << field.second;
        EXPECT_NE(usage.find(" at " + std::to_string(field.first), at), std::string::npos) << field.second;
        last = at;
        ++flags;
    }
    EXPECT_EQ(flags, 9);
    for (const char* setByCommand : {"delay", "width", "triggerTicks"}) {
        EXPECT_EQ(usage.find(std::string("\n  --") + setByCommand + " "), std::string::npos) << setByCommand;
    }
}

// Every field a flag sets is given its own offset: the first per-channel one
// as eight values (the last the largest count), the others as one value.
TEST(SimProgram, EachBlockFieldFlagReachesTheTimingBlock) {
    namespace t = qx480::timing;
    std::vector<std::string> args;
    for (const t::DeviceField& f : t::DEVICE_FIELDS) {
        if (!f.setByCommand) args.push_back("--" + std::string(f.name) + "=" + std::to_string(f.offset));
    }
    std::vector<std::uint64_t> perChannel;
    for (const t::ChannelField& f : t::CHANNEL_FIELDS) {
        if (f.setByCommand) continue;
        std::string values = std::to_string(f.offset);
        if (perChannel.empty()) {
            for (int i = 0; i < 7; ++i) perChannel.push_back(static_cast<std::uint64_t>(f.offset + i));
            perChannel.push_back(UINT64_MAX);
            values.clear();
            for (std::uint64_t v : perChannel) values += (values.empty() ? "" : ",") + std::to_string(v);
        }
        args.insert(args.end(), {"--" + std::string(f.name), values});
    }
    Program p(args);
    ASSERT_GT(p.pid, 0);
    std::string path = Program::Drain(p.out, true);
    ASSERT_FALSE(path.empty()) << Program::Drain(p.err);
    path.pop_back();
    RawHost host(path);
    ASSERT_TRUE(host.ok()) << path;
    ASSERT_TRUE(host.Write(Request(READ_TIMING, 0)));
    t::Block b;
    ASSERT_TRUE(t::Decode(Parsed(host.Read(t::BLOCK_SIZE + qx480::frame::OVERHEAD)), b));

    const t::Block powerOn = qx480::sim::PowerOnBlock();
    for (const t::DeviceField& f : t::DEVICE_FIELDS) {
        std::visit(
            [&](auto member) {
                const double expected = f.setByCommand ? static_cast<double>(powerOn.*member) : f.offset;
                EXPECT_EQ(static_cast<double>(b.*member), expected) << f.name;
            },
            f.member);
    }
    bool eightValues = true;  // until the first per-channel field a flag sets
    for (const t::ChannelField& f : t::CHANNEL_FIELDS) {
        for (std::size_t i = 0; i < b.channels.size(); ++i) {
            const std::uint64_t given = eightValues ? perChannel[i] : static_cast<std::uint64_t>(f.offset);
            EXPECT_EQ(b.channels[i].*f.member, f.setByCommand ? 0u : given) << f.name << " of channel " << i + 1;
        }
        if (!f.setByCommand) eightValues = false;
    }
}

TEST(SimProgram, EchoAndForeignFrameFlagsReachTheLine) {
    Program p({"--echo", "local", "--foreign-frames", "1"});
    ASSERT_GT(p.pid, 0);
    std::string path = Program::Drain(p.out, true);
    ASSERT_FALSE(path.empty());
    path.pop_back();
    RawHost host(path);
    ASSERT_TRUE(host.ok()) << path;
    ASSERT_TRUE(host.Write(TEMP_REQUEST));
    const Bytes expected = TEMP_REQUEST + Request(SET_TRIGGER, qx480::option::RESPONSE_OK) + TEMP_ANSWER;
    EXPECT_EQ(host.Read(expected.size()), expected);
}

TEST(SimProgram, PrintsThePathServesAndExitsCleanlyOnSigterm) {
    Program p({"--temp", "21.5"});
    ASSERT_GT(p.pid, 0);
    std::string path = Program::Drain(p.out, true);
    ASSERT_FALSE(path.empty());
    path.pop_back();
    {
        RawHost host(path);
        ASSERT_TRUE(host.ok()) << path;
        ASSERT_TRUE(host.Write(TEMP_REQUEST));
        EXPECT_EQ(Parsed(host.Read(TEMP_ANSWER.size())).ReadFloat(0), 21.5f);
    }
    kill(p.pid, SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(Program::Drain(p.err), "");
}

}  // namespace
