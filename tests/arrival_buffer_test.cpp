// The receiver over the arrival buffer, against a scripted port: one port
// read per arrival, the same frames and outcomes as reading the port itself.
#include "arrival_buffer.h"

#include <gtest/gtest.h>

#include <deque>

#include "frame_receiver.h"
#include "frames.h"
#include "golden_frames.h"

namespace {

using qx480::detail::ArrivalBuffer;
using qx480::detail::ReceiveFrame;
using qx480::test::Bytes;
using qx480::test::operator+;

constexpr std::uint8_t kTemp = 0x93;
const Bytes& kTempAnswer = qx480::test::golden::READ_TEMP_ANSWER.bytes;
const Bytes& kDelayAnswer = qx480::test::golden::SET_DELAY_ACCEPTED.bytes;

struct Clock {
    std::uint32_t now = 0;
    std::uint32_t operator()() const { return now; }
};

// Each Read hands out one arrival (as much of it as fits), nothing once they
// are used up, or -1 where an error is scripted; it advances the clock.
class ScriptedPort {
public:
    struct Call {
        int size;
        int limitMs;
    };
    explicit ScriptedPort(Clock& clock) : m_clock(clock) {}
    ScriptedPort& Then(const Bytes& arrival) {
        m_arrivals.push_back({arrival, false});
        return *this;
    }
    ScriptedPort& ThenError() {
        m_arrivals.push_back({{}, true});
        return *this;
    }
    int Read(std::uint8_t* dst, int size, int limitMs) {
        calls.push_back({size, limitMs});
        ++m_clock.now;
        if (m_arrivals.empty()) return 0;
        auto& [bytes, error] = m_arrivals.front();
        if (error) {
            m_arrivals.pop_front();
            return -1;
        }
        const int n = std::min(size, static_cast<int>(bytes.size()));
        std::copy(bytes.begin(), bytes.begin() + n, dst);
        bytes.erase(bytes.begin(), bytes.begin() + n);
        if (bytes.empty()) m_arrivals.pop_front();
        return n;
    }
    std::vector<Call> calls;

private:
    Clock& m_clock;
    std::deque<std::pair<Bytes, bool>> m_arrivals;
};

constexpr int CAPACITY = ArrivalBuffer<ScriptedPort>::CAPACITY;

class Arrivals : public testing::Test {
protected:
    QX480Status Receive(int limitMs = 1000) {
        ArrivalBuffer<ScriptedPort> buffer(port);
        return ReceiveFrame(buffer, clock, out, kTemp, limitMs);
    }
    Clock clock;
    ScriptedPort port{clock};
    QX480Frame out{};
};

TEST_F(Arrivals, OneReadTakesEverythingThatArrivedAndTheHuntRunsInTheBuffer) {
    port.Then(Bytes{0x00, 0xEB, 0x12, 0xEB} + kDelayAnswer + kTempAnswer);
    ASSERT_EQ(Receive(), QX480Status::Accepted);
    EXPECT_EQ(out.ReadFloat(0), 29.59375f);
    ASSERT_EQ(port.calls.size(), 1u);
    EXPECT_EQ(port.calls[0].size, CAPACITY);
    EXPECT_EQ(port.calls[0].limitMs, qx480::detail::HUNT_READ_MS);
}

TEST_F(Arrivals, EachPieceOfAnAnswerIsOneReadWithThePhasesLimit) {
    port.Then({0xEB}).Then({0x90, 0x0A, 0x00}).Then(Bytes(kTempAnswer.begin() + 4, kTempAnswer.end()));
    ASSERT_EQ(Receive(), QX480Status::Accepted);
    ASSERT_EQ(port.calls.size(), 3u);
    EXPECT_EQ(port.calls[1].limitMs, qx480::detail::HUNT_READ_MS);
    EXPECT_EQ(port.calls[2].limitMs, qx480::detail::BODY_READ_MS);
}

// What follows the answer goes with the buffer, as a purge would take it.
TEST_F(Arrivals, BytesBehindTheAnswerAreNotHandedToTheNextReceive) {
    port.Then(kTempAnswer + kTempAnswer);
    ASSERT_EQ(Receive(), QX480Status::Accepted);
    EXPECT_EQ(Receive(100), QX480Status::NoAnswer);
}

TEST_F(Arrivals, BytesBeforeAPortFailureComeFirstThenTheFailure) {
    port.Then({0x00, 0xEB, 0x90}).ThenError().Then(kTempAnswer);
    EXPECT_EQ(Receive(), QX480Status::PortFailed);
    EXPECT_EQ(port.calls.size(), 2u);
}

TEST_F(Arrivals, AFrameLargerThanTheBufferIsReadStraightIntoPlace) {
    Bytes big;
    const Bytes pa(qx480::frame::MAX_PA, 0xCC);
    qx480::BuildFrame(kTemp, 1, pa.data(), static_cast<int>(pa.size()), big);
    port.Then(big);
    ASSERT_EQ(Receive(), QX480Status::Accepted);
    EXPECT_EQ(out.pa, pa);
    ASSERT_EQ(port.calls.size(), 2u);
    EXPECT_EQ(port.calls[1].size, static_cast<int>(big.size()) - CAPACITY);
    EXPECT_EQ(port.calls[1].limitMs, qx480::detail::BODY_READ_MS);
}

}  // namespace
