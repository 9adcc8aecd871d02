// The simulated device's Responder under faults: what each fault does to the
// line (stray bytes, pieces, delays, drops, corruption, short lengths), the
// hang-up, the frames of other commands before an answer, the echo modes,
// and the faults it refuses.
#include <gtest/gtest.h>

#include <vector>

#include "frames.h"
#include "sim_test_helpers.h"

namespace {

using namespace simtest;
using qx480::sim::DeviceState;
using qx480::sim::Echo;
using qx480::sim::Faults;
using qx480::sim::Options;
using qx480::sim::Responder;
using qx480::test::F32;
using qx480::test::FrameOf;
using qx480::test::Hex;
using qx480::test::Parsed;
using qx480::test::U64;
using qx480::test::operator+;

TEST(Responder, StrayBytesPiecesAndDelaysShapeTheLine) {
    Responder r;
    Faults f;
    f.strayBytes = 9;
    f.pieces = 3;
    f.pieceGapMs = 7;
    f.answerDelayMs = 40;
    ASSERT_TRUE(r.SetFaults(f));
    auto replies = Feed(r, TEMP_REQUEST);
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].chunks.size(), 3u);
    EXPECT_EQ(replies[0].chunks[0].delayMs, 40);
    EXPECT_EQ(replies[0].chunks[1].delayMs, 7);
    EXPECT_EQ(replies[0].chunks[2].delayMs, 7);
    const Bytes wire = Wire(replies[0]);
    ASSERT_EQ(wire.size(), 9 + TEMP_ANSWER.size());
    EXPECT_EQ(Bytes(wire.begin() + 9, wire.end()), TEMP_ANSWER);
    for (std::size_t i = 0; i + 1 < 9; ++i) EXPECT_FALSE(wire[i] == 0xEB && wire[i + 1] == 0x90) << i;
    EXPECT_EQ(replies[0].response, TEMP_ANSWER);
}

TEST(Responder, DropsAndCorruptionCountRequestsAndResponsesApart) {
    Responder r;
    Faults f;
    f.dropEvery = 2;
    f.corruptEvery = 2;
    ASSERT_TRUE(r.SetFaults(f));
    const Bytes trig = FrameOf(SOFTWARE_TRIG, 0);
    std::vector<Bytes> wires;
    for (int i = 0; i < 5; ++i) wires.push_back(AnswerTo(r, trig));
    EXPECT_TRUE(Parsed(wires[0]).valid);
    EXPECT_TRUE(wires[1].empty());
    EXPECT_FALSE(Parsed(wires[2]).valid);  // the second response sent
    EXPECT_TRUE(wires[3].empty());
    EXPECT_TRUE(Parsed(wires[4]).valid);
    EXPECT_EQ(r.State().softwareTriggers, 3u);  // dropped requests are not carried out
}

TEST(Responder, AShortLengthFieldStaysWhenAnInvalidChangeIsRefused) {
    Responder r;
    Faults f;
    f.shortLength = true;
    ASSERT_TRUE(r.SetFaults(f));
    const Bytes shortened = AnswerTo(r, TEMP_REQUEST);
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
    const Bytes temp = FrameOf(READ_TEMP, 0);
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
        FrameOf(READ_TIMING, qx480::option::TIMING_RESPONSE, qx480::timing::Encode(options.state.block));

    auto replies = Feed(r, FrameOf(READ_TEMP, 0));
    ASSERT_EQ(replies.size(), 1u);
    const Bytes foreign = Accepted(SET_TRIGGER) + Accepted(SET_TRIG_FREQ) + Accepted(SET_CHANNEL) +
                          Accepted(SET_GLOBAL_OUTPUT) + Accepted(SET_DELAY) + Accepted(SET_PULSE_WIDTH) +
                          Accepted(SOFTWARE_TRIG) + timing + Accepted(SET_TRIGGER);
    const Bytes& response = replies[0].response;
    ASSERT_EQ(response.size(), TEMP_ANSWER.size());
    EXPECT_FALSE(Parsed(response).valid);  // faults spoil the response only, never the foreign frames
    ASSERT_EQ(replies[0].chunks.size(), 2u);
    EXPECT_EQ(replies[0].chunks[0].bytes, foreign + Hex("55 CC 90") + Bytes(response.begin(), response.begin() + 7));
    EXPECT_EQ(replies[0].chunks[1].bytes, Bytes(response.begin() + 7, response.end()));
    EXPECT_EQ(replies[0].chunks[1].delayMs, 5);
}

// SetFaults starts the round anew; from one request to the next it goes on
// where it stopped, skipping each request's own code.
TEST(Responder, ForeignFramesGoOnFromOneRequestToTheNext) {
    Options options;
    options.state.temperature = 21.5f;
    Responder r(options);
    Faults f;
    f.foreignFrames = 3;
    ASSERT_TRUE(r.SetFaults(f));
    const Bytes temperature = FrameOf(READ_TEMP, qx480::option::TEMP_RESPONSE, F32(21.5f));
    EXPECT_EQ(AnswerTo(r, FrameOf(SET_TRIGGER, 1)),
              Accepted(SET_TRIG_FREQ) + Accepted(SET_CHANNEL) + Accepted(SET_GLOBAL_OUTPUT) + Accepted(SET_TRIGGER));
    EXPECT_EQ(AnswerTo(r, FrameOf(SET_DELAY, 1, U64(7))),
              Accepted(SET_PULSE_WIDTH) + Accepted(SOFTWARE_TRIG) + temperature + Accepted(SET_DELAY));
    ASSERT_EQ(r.State().block.channels[0].delay, 7u);  // the timing block reports the state of now
    const Bytes timingNow =
        FrameOf(READ_TIMING, qx480::option::TIMING_RESPONSE, qx480::timing::Encode(r.State().block));
    EXPECT_EQ(AnswerTo(r, FrameOf(SOFTWARE_TRIG, 0)),
              timingNow + Accepted(SET_TRIGGER) + Accepted(SET_TRIG_FREQ) + Accepted(SOFTWARE_TRIG));
    EXPECT_EQ(r.State().softwareTriggers, 1u);  // late answers carry nothing out
}

TEST(Responder, ADroppedRequestGetsNoForeignFramesEither) {
    Responder r;
    Faults f;
    f.foreignFrames = 3;
    f.dropEvery = 1;
    ASSERT_TRUE(r.SetFaults(f));
    EXPECT_TRUE(AnswerTo(r, FrameOf(SET_TRIGGER, 1)).empty());
}

TEST(Responder, LoopbackSendsEveryByteBackAndAnswersNothing) {
    Options options;
    options.faults.echo = Echo::Loopback;
    options.faults.strayBytes = 5;
    options.faults.foreignFrames = 3;
    options.faults.answerDelayMs = 50;
    Responder r(options);
    const Bytes setDelay = FrameOf(SET_DELAY, 1, U64(500));
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
    const Bytes trigger = FrameOf(SOFTWARE_TRIG, 0);
    EXPECT_EQ(AnswerTo(r, trigger), trigger + Accepted(SOFTWARE_TRIG));
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

}  // namespace
