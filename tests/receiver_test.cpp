// The resynchronising receiver against a scripted byte source and clock: no
// port and no sleeping, so every phase and every limit is deterministic.
#include <gtest/gtest.h>

#include <deque>

#include "frame_receiver.h"
#include "frames.h"
#include "golden_frames.h"

namespace {

using qx480::test::Bytes;
using qx480::test::operator+;

struct ScriptedClock {
    std::uint32_t now = 0;
    std::uint32_t operator()() const { return now; }
};

// Each Read pops one step: a chunk of bytes (handed out up to the size asked
// for, the rest kept for the next read), nothing, or an error. An empty script
// gives nothing. Every read advances the clock.
class ScriptedSource {
public:
    struct Step {
        Bytes bytes;
        bool error = false;
    };
    struct Call {
        int size;
        int limitMs;
    };

    explicit ScriptedSource(ScriptedClock& clock, std::uint32_t msPerRead = 1) : m_clock(clock), m_ms(msPerRead) {}

    ScriptedSource& Then(const Bytes& b) { return Push({b, false}); }
    ScriptedSource& ThenEachByte(const Bytes& b) {
        for (std::uint8_t x : b) Then({x});
        return *this;
    }
    ScriptedSource& ThenError() { return Push({{}, true}); }

    int Read(std::uint8_t* buf, int size, int limitMs) {
        calls.push_back({size, limitMs});
        m_clock.now += m_ms;
        if (m_steps.empty()) return 0;
        Step& s = m_steps.front();
        if (s.error) {
            m_steps.pop_front();
            return -1;
        }
        const int n = std::min<int>(size, static_cast<int>(s.bytes.size()));
        std::copy(s.bytes.begin(), s.bytes.begin() + n, buf);
        s.bytes.erase(s.bytes.begin(), s.bytes.begin() + n);
        if (s.bytes.empty()) m_steps.pop_front();
        return n;
    }

    std::size_t Pending() const { return m_steps.size(); }
    std::vector<Call> calls;

private:
    ScriptedSource& Push(Step s) {
        m_steps.push_back(std::move(s));
        return *this;
    }
    ScriptedClock& m_clock;
    std::uint32_t m_ms;
    std::deque<Step> m_steps;
};

const Bytes& kTempResponse = qx480::test::golden::READ_TEMP_ANSWER.bytes;

constexpr std::uint8_t kTemp = 0x93;
// A valid answer of another command: SET_DELAY accepted.
const Bytes& kDelayAnswer = qx480::test::golden::SET_DELAY_ACCEPTED.bytes;

using qx480::detail::ReceiveFrame;
using Status = QX480Status;

class Receiver : public testing::Test {
protected:
    bool Receive(int limitMs) { return Outcome(limitMs) == Status::Accepted; }
    Status Outcome(int limitMs) { return ReceiveFrame(source, clock, out, kTemp, limitMs); }
    void PresetRecord() {
        out.valid = true;
        out.cmd = 0x55;
        out.opt = 0x1234;
        out.pa = {9, 9};
    }
    void ExpectOnlyValidCleared() const {
        EXPECT_FALSE(out.valid);
        EXPECT_EQ(out.cmd, 0x55);
        EXPECT_EQ(out.opt, 0x1234);
        EXPECT_EQ(out.pa, (Bytes{9, 9}));
    }

    ScriptedClock clock;
    ScriptedSource source{clock};
    QX480Frame out{};
};

TEST_F(Receiver, DecodesAWholeFrame) {
    source.Then(kTempResponse);
    ASSERT_TRUE(Receive(1000));
    EXPECT_EQ(out.cmd, 0x93);
    EXPECT_EQ(out.opt, 1);
    EXPECT_EQ(out.ReadFloat(0), 29.59375f);
}

TEST_F(Receiver, FindsTheFrameBehindNoiseAtTheLastHeadByteBeforeTheSecond) {
    source.Then(Bytes{0x00, 0xEB, 0x12, 0xEB, 0xEB} + Bytes(kTempResponse.begin() + 1, kTempResponse.end()));
    ASSERT_TRUE(Receive(1000));
    EXPECT_EQ(out.cmd, 0x93);
}

TEST_F(Receiver, HuntsOneByteAtATimeThenReadsLengthAndBodyInBulk) {
    source.Then(Bytes{0x42} + kTempResponse);
    ASSERT_TRUE(Receive(1000));
    ASSERT_EQ(source.calls.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(source.calls[i].size, 1);
        EXPECT_EQ(source.calls[i].limitMs, 50);
    }
    EXPECT_EQ(source.calls[3].size, 2);
    EXPECT_EQ(source.calls[3].limitMs, 50);
    EXPECT_EQ(source.calls[4].size, 10);
    EXPECT_EQ(source.calls[4].limitMs, 100);
}

TEST_F(Receiver, AssemblesAFrameArrivingInManyPieces) {
    source.ThenEachByte(kTempResponse);
    ASSERT_TRUE(Receive(1000));
    EXPECT_EQ(out.pa, (Bytes{0x00, 0xC0, 0xEC, 0x41}));
}

TEST_F(Receiver, LengthBelowSixEndsTheReceiveWithoutHuntingAgain) {
    PresetRecord();
    source.Then({0xEB, 0x90, 0x05, 0x00}).Then(kTempResponse);
    EXPECT_EQ(Outcome(1000), Status::CorruptAnswer);
    EXPECT_EQ(source.Pending(), 1u) << "the good frame behind is left unread";
    ExpectOnlyValidCleared();
}

TEST_F(Receiver, BadChecksumFailsAtOnceWithTheRecordReset) {
    PresetRecord();
    Bytes bad = kTempResponse;
    bad[11] ^= 0xFF;
    source.Then(bad);
    const std::uint32_t start = clock.now;
    EXPECT_EQ(Outcome(1000), Status::CorruptAnswer);
    EXPECT_LT(clock.now - start, 10u) << "returns without waiting out the limit";
    EXPECT_FALSE(out.valid);
    EXPECT_EQ(out.cmd, 0);
    EXPECT_TRUE(out.pa.empty());
}

TEST_F(Receiver, ReadErrorInAnyPhaseFailsAndLeavesTheOtherFieldsAlone) {
    const std::vector<Bytes> before{{}, {0x00, 0xEB}, {0xEB, 0x90}, {0xEB, 0x90, 0x0A}, {0xEB, 0x90, 0x0A, 0x00, 0x93}};
    for (const Bytes& prefix : before) {
        ScriptedClock c;
        ScriptedSource s(c);
        s.ThenEachByte(prefix).ThenError().Then(kTempResponse);
        PresetRecord();
        EXPECT_EQ(ReceiveFrame(s, c, out, kTemp, 1000), Status::PortFailed) << prefix.size();
        ExpectOnlyValidCleared();
        EXPECT_EQ(s.Pending(), 1u) << "nothing read after the error";
    }
}

TEST_F(Receiver, GivesUpInEachPhaseOnceTheLimitHasPassed) {
    // Without a whole head it is no answer; with one, an incomplete frame.
    const std::vector<std::pair<Bytes, Status>> stalls{
        {{}, Status::NoAnswer},
        {{0xEB}, Status::NoAnswer},
        {{0xEB, 0x90, 0x0A}, Status::CorruptAnswer},
        {{0xEB, 0x90, 0x0A, 0x00, 0x93, 0x01}, Status::CorruptAnswer},
        {kDelayAnswer, Status::NoAnswer},
    };
    for (const auto& [prefix, status] : stalls) {
        ScriptedClock c;
        ScriptedSource s(c, 7);
        s.ThenEachByte(prefix);
        PresetRecord();
        EXPECT_EQ(ReceiveFrame(s, c, out, kTemp, 300), status) << prefix.size();
        EXPECT_GE(c.now, 300u);
        EXPECT_LT(c.now, 300u + 7u) << "the time is looked at after every read";
        ExpectOnlyValidCleared();
    }
}

TEST_F(Receiver, LimitOfZeroOrLessReadsNothing) {
    for (int limit : {0, -1}) {
        PresetRecord();
        source.Then(kTempResponse);
        EXPECT_FALSE(Receive(limit));
        EXPECT_TRUE(source.calls.empty());
        ExpectOnlyValidCleared();
    }
}

TEST_F(Receiver, TickCounterWrapNeitherEndsNorProlongsTheWait) {
    clock.now = 0xFFFFFFFFu - 20;
    EXPECT_FALSE(Receive(100));
    EXPECT_EQ(static_cast<std::uint32_t>(clock.now - (0xFFFFFFFFu - 20)), 100u);
    EXPECT_EQ(source.calls.size(), 100u);
}

TEST_F(Receiver, DropsFramesOfAnotherCommandAndTakesTheAnswerBehindThem) {
    source.Then(kDelayAnswer).ThenEachByte(Bytes{0x00} + kDelayAnswer).Then(kTempResponse);
    ASSERT_EQ(Outcome(1000), Status::Accepted);
    EXPECT_EQ(out.cmd, kTemp);
    EXPECT_EQ(out.ReadFloat(0), 29.59375f);
    EXPECT_EQ(source.Pending(), 0u);
}

TEST_F(Receiver, FrameOfAnotherCommandAloneIsNoAnswerWithTheRecordUntouched) {
    PresetRecord();
    source.Then(kDelayAnswer);
    EXPECT_EQ(Outcome(1000), Status::NoAnswer);
    EXPECT_GE(clock.now, 1000u) << "the hunt goes on to the end of the limit";
    ExpectOnlyValidCleared();
}

TEST_F(Receiver, CorruptFrameBehindAForeignOneStillEndsTheReceive) {
    Bytes bad = kTempResponse;
    bad[11] ^= 0xFF;
    source.Then(kDelayAnswer).Then(bad).Then(kTempResponse);
    EXPECT_EQ(Outcome(1000), Status::CorruptAnswer);
    EXPECT_EQ(source.Pending(), 1u) << "no second hunt after a frame that fails its checks";
}

TEST_F(Receiver, ShowsTheObserverTheAnswerTakenAndEverythingDropped) {
    std::vector<std::pair<bool, Bytes>> seen;
    const auto observe = [&](bool taken, const std::uint8_t* p, std::size_t n) {
        seen.emplace_back(taken, Bytes(p, p + n));
    };
    Bytes bad = kTempResponse;
    bad.back() = 0x00;
    source.Then(Bytes{0x11, 0xEB, 0xEB} + Bytes(kDelayAnswer.begin() + 1, kDelayAnswer.end())).Then(kTempResponse);
    EXPECT_EQ(ReceiveFrame(source, clock, out, kTemp, 1000, observe), Status::Accepted);
    source.Then(bad);
    EXPECT_EQ(ReceiveFrame(source, clock, out, kTemp, 1000, observe), Status::CorruptAnswer);
    source.Then({0xEB, 0x90, 0x0A});
    EXPECT_EQ(ReceiveFrame(source, clock, out, kTemp, 100, observe), Status::CorruptAnswer);
    source.Then({0x22, 0xEB});
    EXPECT_EQ(ReceiveFrame(source, clock, out, kTemp, 100, observe), Status::NoAnswer);
    const std::vector<std::pair<bool, Bytes>> expected{
        {false, {0x11, 0xEB}}, {false, kDelayAnswer},       {true, kTempResponse},
        {false, bad},          {false, {0xEB, 0x90, 0x0A}}, {false, {0x22, 0xEB}},
    };
    EXPECT_EQ(seen, expected);
}

TEST_F(Receiver, LargestFrameIsReceivedWhole) {
    Bytes big;
    const Bytes pa(qx480::frame::MAX_PA, 0xCC);
    qx480::BuildFrame(kTemp, 1, pa.data(), static_cast<int>(pa.size()), big);
    source.Then(big);
    ASSERT_TRUE(Receive(1000));
    EXPECT_EQ(out.pa.size(), pa.size());
}

}  // namespace
