// The driver end to end against the simulated device over a real
// pseudo-terminal: exact request bytes, state changes read back, refusals,
// and every fault of the exchange. Each scenario runs three times: on the
// pseudo-terminal itself, and through ser2net in front of it as socket://
// (raw TCP) and as rfc2217:// (telnet with the COM-PORT-OPTION).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>

#include "frames.h"
#include "golden_frames.h"
#include "pseudo_terminal.h"
#include "qx480ddg.h"
#include "ser2net.h"
#include "simulated_device.h"
#include "status_of.h"
#include "wait_until.h"

namespace {

using qx480::test::StatusOf;

using qx480::sim::Faults;
using qx480::test::Bytes;
using qx480::test::FrameOf;
using qx480::test::GoldenFrame;
using qx480::test::Hex;
using qx480::test::ScriptedPeer;
using qx480::test::WaitUntil;
using Clock = std::chrono::steady_clock;
namespace golden = qx480::test::golden;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

constexpr int kTooLate = 1300;  // well past the 1000 ms limit, within the next exchange's

enum class Transport { Pty, Socket, Rfc2217 };

std::string NameOf(const testing::TestParamInfo<Transport>& info) {
    static const char* const NAMES[] = {"Pty", "Socket", "Rfc2217"};
    return NAMES[static_cast<int>(info.param)];
}

class DeviceE2E : public testing::TestWithParam<Transport> {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        ASSERT_NO_FATAL_FAILURE(ServeOn(sim.Path()));
        ASSERT_TRUE(dev.Open(port.c_str(), 115200)) << port;
    }

    // The port name a host opens to reach the device's line at `path`.
    void ServeOn(const std::string& path) {
        port = path;
        if (GetParam() == Transport::Pty) return;
        ser2net = std::make_unique<qx480::test::Ser2net>();
        ASSERT_TRUE(ser2net->Start(path)) << ser2net->Error();
        port = GetParam() == Transport::Socket ? ser2net->RawUrl() : ser2net->Rfc2217Url();
    }

    Bytes LastRequest() const {
        const auto log = sim.Requests();
        return log.empty() ? Bytes{} : log.back();
    }

    Bytes LastRequestParameters() const {
        const Bytes r = LastRequest();
        return r.size() < 10 ? Bytes{} : Bytes(r.begin() + 7, r.end() - 3);
    }

    void ExpectRequest(bool result, const GoldenFrame& request) {
        EXPECT_TRUE(result) << request.text;
        EXPECT_EQ(LastRequest(), request.bytes);
    }

    void SetFaults(const Faults& f) { ASSERT_TRUE(sim.SetFaults(f)); }

    qx480::sim::SimulatedDevice sim;
    std::unique_ptr<qx480::test::Ser2net> ser2net;
    std::string port;
    QX480DDG dev;
};

INSTANTIATE_TEST_SUITE_P(Transports, DeviceE2E, testing::Values(Transport::Pty, Transport::Socket, Transport::Rfc2217),
                         NameOf);

// The scenarios that need a terminal server in front of the device.
class TerminalServerE2E : public DeviceE2E {};

INSTANTIATE_TEST_SUITE_P(Transports, TerminalServerE2E, testing::Values(Transport::Socket, Transport::Rfc2217), NameOf);

TEST_P(DeviceE2E, EveryCommandSendsItsExactRequestAndChangesTheDevice) {
    ExpectRequest(dev.SetDelay(1, 10), golden::SET_DELAY_1_10NS);
    ExpectRequest(dev.SetPulseWidth(1, 100), golden::SET_PULSE_WIDTH_1_100NS);
    ExpectRequest(dev.SetInternalTriggerFreq(1000.0), golden::SET_TRIG_FREQ_1KHZ);
    ExpectRequest(dev.SetOutputChannel(1, true), golden::SET_CHANNEL_1_ON);
    ExpectRequest(dev.SetGlobalOutput(true), golden::SET_GLOBAL_OUTPUT_ON);
    ExpectRequest(dev.SetTrigger(QX480TriggerMode::Software), golden::SET_TRIGGER_SOFTWARE);
    ExpectRequest(dev.SoftwareTrigger(), golden::SOFTWARE_TRIG);

    const auto s = sim.State();
    EXPECT_EQ(s.block.channels[0].delay, 1000u);
    EXPECT_EQ(s.block.channels[0].width, 10000u);
    EXPECT_EQ(s.block.triggerTicks, 250000u);
    EXPECT_TRUE(s.channelOn[0]);
    EXPECT_TRUE(s.globalOutput);
    EXPECT_EQ(s.triggerOpt, 3);
    EXPECT_EQ(s.softwareTriggers, 1u);

    EXPECT_TRUE(dev.SetOutputChannel(8, false));
    EXPECT_EQ(LastRequest()[5], 0x00);
    EXPECT_EQ(LastRequest()[6], 0x08);
    EXPECT_TRUE(dev.SetGlobalOutput(false));
    EXPECT_FALSE(sim.State().globalOutput);
    EXPECT_TRUE(dev.SetTrigger(static_cast<QX480TriggerMode>(7)));
    EXPECT_EQ(sim.State().triggerOpt, 1) << "a mode outside the enumeration is sent as internal";
    EXPECT_TRUE(dev.SetDelay(8, 0));
    EXPECT_EQ(LastRequest(), Hex("EB 90 0E 00 08 08 00 00 00 00 00 00 00 00 00 99 01 CC"));
}

TEST_P(DeviceE2E, TheTemperatureQueryReadsTheDevicesTemperature) {
    auto s = sim.State();
    s.temperature = 31.25f;
    sim.SetState(s);
    float celsius = 0;
    ExpectRequest(dev.ReadTemperature(&celsius), golden::READ_TEMP);
    EXPECT_EQ(celsius, 31.25f);
}

TEST_P(DeviceE2E, TimingQueriesReadBothEndChannelsBack) {
    auto s = sim.State();
    s.block.channels[0].delay = 199;  // 1.99 ns reads back as 1 ns
    s.block.channels[0].width = 5000;
    s.block.channels[7].delay = UINT64_MAX;
    s.block.channels[7].width = 123400;
    s.block.channels[7].time140 = 700;
    s.block.channels[7].time204 = 900;
    s.block.triggerTicks = 250000;
    s.block.word128 = 0x1234;
    s.block.byte130 = 7;
    s.block.byte131 = 0xFF;
    s.block.byte136 = 1;
    s.block.byte137 = 2;
    s.block.word138 = 0xBEEF;
    s.block.float276 = -1.5f;
    sim.SetState(s);

    QX480TimingConfig c1{}, c8{};
    ExpectRequest(dev.ReadTimingConfig(1, &c1), golden::READ_TIMING);
    ExpectRequest(dev.ReadTimingConfig(8, &c8), golden::READ_TIMING);
    EXPECT_EQ(c1.channel, 1);
    EXPECT_EQ(c1.delayNs, 1);
    EXPECT_EQ(c1.widthNs, 50);
    EXPECT_EQ(c8.channel, 8);
    EXPECT_EQ(c8.delayNs, 184467440737095516);
    EXPECT_EQ(c8.widthNs, 1234);
    EXPECT_EQ(c8.time140Ns, 7);
    EXPECT_EQ(c8.time204Ns, 9);
    for (const QX480TimingConfig& c : {c1, c8}) {
        EXPECT_EQ(c.triggerFreqHz, 1000.0);
        EXPECT_EQ(c.word128, 0x1234u);
        EXPECT_EQ(c.byte130, 7u);
        EXPECT_EQ(c.byte131, 255u);
        EXPECT_EQ(c.byte136, 1u);
        EXPECT_EQ(c.byte137, 2u);
        EXPECT_EQ(c.word138, 0xBEEFu);
        EXPECT_EQ(c.float276, -1.5f);
    }
}

TEST_P(DeviceE2E, RefusedArgumentsSendNothing) {
    float celsius = 5.0f;
    QX480TimingConfig config{};
    config.channel = 42;
    EXPECT_FALSE(dev.SetDelay(0, 10));
    EXPECT_FALSE(dev.SetDelay(9, 10));
    EXPECT_FALSE(dev.SetDelay(1, -1));
    EXPECT_FALSE(dev.SetDelay(1, qx480::units::MAX_TIME_NS + 1));
    EXPECT_FALSE(dev.SetPulseWidth(1, -1));
    EXPECT_FALSE(dev.SetPulseWidth(9, 1));
    EXPECT_FALSE(dev.SetOutputChannel(0, true));
    EXPECT_FALSE(dev.SetOutputChannel(9, true));
    EXPECT_FALSE(dev.SetInternalTriggerFreq(0.0));
    EXPECT_FALSE(dev.SetInternalTriggerFreq(-5.0));
    EXPECT_FALSE(dev.SetInternalTriggerFreq(std::nan("")));
    EXPECT_FALSE(dev.SetInternalTriggerFreq(0.05));
    EXPECT_FALSE(dev.ReadTemperature(nullptr));
    EXPECT_FALSE(dev.ReadTimingConfig(1, nullptr));
    EXPECT_FALSE(dev.ReadTimingConfig(0, &config));
    EXPECT_FALSE(dev.ReadTimingConfig(9, &config));
    EXPECT_FALSE(dev.SendFrame(0x08, 1, nullptr, 8, nullptr, 1000)) << "parameters the builder refuses";
    EXPECT_FALSE(dev.SetTriggerPeriod(0));
    EXPECT_FALSE(dev.SetDelayCounts(9, 1));
    EXPECT_FALSE(dev.ReadTimingBlock(nullptr));
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetDelay(1, -1, o); }), QX480Status::BadArgument);
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTimingConfig(9, &config, o); }), QX480Status::BadArgument);
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SendFrame(0x08, 1, nullptr, 8, nullptr, 1000, o); }),
              QX480Status::BadArgument);
    EXPECT_EQ(config.channel, 42);
    EXPECT_EQ(celsius, 5.0f);

    // A frame that does go out afterwards is the first thing the device sees.
    EXPECT_TRUE(dev.SoftwareTrigger());
    EXPECT_EQ(sim.BytesReceived(), 10u);
}

TEST_P(DeviceE2E, TimesAndRatesAtTheWireLimitsAreSentExactly) {
    EXPECT_FALSE(dev.SetDelay(1, qx480::units::MAX_TIME_NS)) << "beyond the simulated device's 10 s";
    EXPECT_EQ(LastRequestParameters(), Hex("F0 FF FF FF FF FF FF FF")) << "(2^64 - 1) / 100 * 100 = 2^64 - 16";
    EXPECT_FALSE(dev.SetInternalTriggerFreq(300e6)) << "a period of 0 ticks, refused by the device";
    EXPECT_EQ(LastRequestParameters(), Hex("00 00 00 00"));
    EXPECT_EQ(sim.State().block.channels[0].delay, 0u);
}

TEST_P(DeviceE2E, ADeviceRefusalIsFalseAndChangesNothing) {
    QX480Outcome outcome;
    EXPECT_FALSE(dev.SetPulseWidth(2, 20'000'000'000, outcome));  // 20 s: past the device's maximum
    EXPECT_EQ(outcome.status, QX480Status::Refused);
    EXPECT_EQ(outcome.cmd, 0x09);
    EXPECT_EQ(sim.RequestCount(), 1);
    EXPECT_EQ(sim.State().block.channels[1].width, 0u);
    EXPECT_TRUE(dev.SetPulseWidth(2, 10'000'000'000));
    EXPECT_EQ(sim.State().block.channels[1].width, 1'000'000'000'000u);
}

TEST_P(DeviceE2E, SendFrameWithoutARecordDoesNotWaitForTheResponse) {
    Faults f;
    f.answerDelayMs = 500;
    SetFaults(f);
    const auto start = Clock::now();
    EXPECT_TRUE(dev.SendFrame(0x14, 0, nullptr, 0, nullptr, 1000));
    EXPECT_LT(MillisecondsSince(start), 400);
    EXPECT_TRUE(sim.WaitForRequests(1, 2000));
}

TEST_P(DeviceE2E, NoisyAndFragmentedResponsesAreAssembled) {
    Faults f;
    f.strayBytes = 37;
    f.pieces = 6;
    f.pieceGapMs = 20;
    f.answerDelayMs = 100;
    SetFaults(f);
    float celsius = 0;
    EXPECT_TRUE(dev.ReadTemperature(&celsius));
    EXPECT_EQ(celsius, qx480::sim::DEFAULT_TEMPERATURE);
    QX480TimingConfig c{};
    EXPECT_TRUE(dev.ReadTimingConfig(3, &c));
    EXPECT_EQ(c.channel, 3);
}

TEST_P(DeviceE2E, ResponsesThatNeverComeOrComeLateFailAfterTheLimit) {
    Faults dropped;
    dropped.dropEvery = 1;
    Faults late;
    late.answerDelayMs = 1500;
    for (const Faults& f : {dropped, late}) {
        SetFaults(f);
        const auto start = Clock::now();
        EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetGlobalOutput(true, o); }), QX480Status::NoAnswer);
        const long long ms = MillisecondsSince(start);
        EXPECT_GE(ms, 950);
        EXPECT_LT(ms, 2500);
    }
    // The late answer lands in the next exchange, which drops it: it carries another command code.
    SetFaults(Faults{});
    float celsius = 0;
    EXPECT_TRUE(dev.ReadTemperature(&celsius));
    EXPECT_EQ(celsius, qx480::sim::DEFAULT_TEMPERATURE);
}

TEST_P(DeviceE2E, FramesOfOtherCommandsBeforeTheAnswerAreDropped) {
    Faults f;
    f.foreignFrames = 3;
    f.strayBytes = 5;
    SetFaults(f);
    float celsius = 0;
    EXPECT_TRUE(dev.ReadTemperature(&celsius));
    EXPECT_EQ(celsius, qx480::sim::DEFAULT_TEMPERATURE);
    QX480TimingConfig c{};
    EXPECT_TRUE(dev.SetDelay(4, 25));
    EXPECT_TRUE(dev.ReadTimingConfig(4, &c));
    EXPECT_EQ(c.delayNs, 25);
    // The frames before the refusal all say "accepted", for other commands.
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetPulseWidth(2, 20'000'000'000, o); }), QX480Status::Refused);
    EXPECT_EQ(sim.State().block.channels[1].width, 0u);
}

TEST_P(DeviceE2E, ALateAnswerToAnotherCommandDoesNotAnswerTheNextRequest) {
    Faults late;
    late.answerDelayMs = kTooLate;
    SetFaults(late);
    float celsius = 1.0f;
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTemperature(&celsius, o); }), QX480Status::NoAnswer);
    SetFaults(Faults{});
    // The temperature answer arrives during this exchange, before the refusal.
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetPulseWidth(2, 20'000'000'000, o); }), QX480Status::Refused);

    SetFaults(late);
    EXPECT_FALSE(dev.ReadTemperature(&celsius));
    Faults dropped;
    dropped.dropEvery = 1;
    SetFaults(dropped);
    // Only the late temperature answer comes: not this request's answer.
    const auto start = Clock::now();
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetDelay(1, 10, o); }), QX480Status::NoAnswer);
    EXPECT_GE(MillisecondsSince(start), 950) << "the hunt goes on to the end of the limit";
    EXPECT_EQ(celsius, 1.0f);
}

TEST_P(DeviceE2E, AQueryThatComesBackAsItsOwnRequestIsAnEcho) {
    for (const qx480::sim::Echo mode : {qx480::sim::Echo::Loopback, qx480::sim::Echo::LocalEcho}) {
        Faults f;
        f.echo = mode;
        SetFaults(f);
        float celsius = 1.0f;
        QX480TimingConfig c{};
        c.channel = 42;
        qx480::timing::Block block;
        block.triggerTicks = 7;
        EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTemperature(&celsius, o); }), QX480Status::Echo);
        EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTimingConfig(1, &c, o); }), QX480Status::Echo);
        // Behind a local echo the real answer follows, and may land after the
        // next purge: the next call must be of another command.
        if (mode == qx480::sim::Echo::Loopback) {
            EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTimingBlock(&block, o); }), QX480Status::Echo);
        }
        EXPECT_EQ(celsius, 1.0f);
        EXPECT_EQ(c.channel, 42);
        EXPECT_EQ(block.triggerTicks, 7u);
        // A write's echo reads as an answer: option 2 (external) says no.
        EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetTrigger(QX480TriggerMode::External, o); }),
                  QX480Status::Refused);
    }
}

TEST_P(DeviceE2E, CorruptOrShortResponsesFailAtOnce) {
    Faults corrupt;
    corrupt.corruptEvery = 1;
    Faults shortLength;
    shortLength.shortLength = true;
    for (const Faults& f : {corrupt, shortLength}) {
        SetFaults(f);
        const auto start = Clock::now();
        EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SoftwareTrigger(o); }), QX480Status::CorruptAnswer);
        float celsius = 1.0f;
        EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTemperature(&celsius, o); }),
                  QX480Status::CorruptAnswer);
        EXPECT_EQ(celsius, 1.0f);
        EXPECT_LT(MillisecondsSince(start), 900) << "no waiting out the limit";
    }
    Faults everyOther;
    everyOther.corruptEvery = 2;
    SetFaults(everyOther);
    EXPECT_TRUE(dev.SoftwareTrigger());
    EXPECT_FALSE(dev.SoftwareTrigger());
    EXPECT_TRUE(dev.SoftwareTrigger());
}

TEST_P(DeviceE2E, AfterAHangUpCallsFailAndARestartedDeviceOpensAfresh) {
    Faults f;
    f.hangUpAfter = 1;
    SetFaults(f);
    EXPECT_TRUE(dev.SoftwareTrigger());
    ASSERT_TRUE(WaitUntil([&] { return sim.HungUp(); }, std::chrono::milliseconds(500)));
    const auto start = Clock::now();
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SoftwareTrigger(o); }), QX480Status::PortFailed);
    float celsius = 0;
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTemperature(&celsius, o); }), QX480Status::PortFailed);
    EXPECT_LT(MillisecondsSince(start), 1500) << "a hang-up is an error, not a silence";
    EXPECT_TRUE(dev.IsOpen());

    SetFaults(Faults{});
    ASSERT_TRUE(sim.Start());
    ASSERT_NO_FATAL_FAILURE(ServeOn(sim.Path()));
    ASSERT_TRUE(dev.Open(port.c_str(), 115200));
    EXPECT_TRUE(dev.SoftwareTrigger());
}

TEST_P(TerminalServerE2E, KilledDuringACallFailsItAtOnceAndANewOneOpensAgain) {
    Faults f;
    f.answerDelayMs = 700;
    SetFaults(f);
    std::thread killer([&] {
        if (sim.WaitForRequests(1, 2000)) ser2net->Kill();
    });
    const auto start = Clock::now();
    float celsius = 0;
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTemperature(&celsius, o); }), QX480Status::PortFailed);
    EXPECT_LT(MillisecondsSince(start), 700) << "the drop is noticed, not the limit waited out";
    killer.join();

    SetFaults(Faults{});
    ASSERT_NO_FATAL_FAILURE(ServeOn(sim.Path()));
    ASSERT_TRUE(dev.Open(port.c_str(), 115200));
    EXPECT_TRUE(dev.ReadTemperature(&celsius));
}

TEST_P(DeviceE2E, APortHeldByAnotherHandleCannotBeOpened) {
    dev.Close();
    SerialPort holder;
    ASSERT_TRUE(holder.Open(port.c_str(), 115200, 8, StopBits::One, Parity::None));
    QX480DDG second;
    QX480Outcome outcome;
    EXPECT_FALSE(second.Open(port.c_str(), 115200, outcome));
    EXPECT_EQ(outcome.status, GetParam() == Transport::Pty ? QX480Status::PortBusy : QX480Status::ServerClosed);
    EXPECT_FALSE(second.IsOpen());
    holder.Close();
    // A terminal server lets go of its device a moment after its client left.
    EXPECT_TRUE(WaitUntil([&] { return second.Open(port.c_str(), 115200); }, std::chrono::milliseconds(2000)));
}

TEST_P(DeviceE2E, AClosedDeviceSendsNothing) {
    dev.Close();
    EXPECT_FALSE(dev.IsOpen());
    QX480Frame out{};
    out.valid = true;
    out.cmd = 0x42;
    EXPECT_FALSE(dev.SendFrame(0x14, 0, nullptr, 0, &out, 1000));
    EXPECT_FALSE(dev.SendFrameU32(0x05, 0, {250000}, &out, 1000));
    EXPECT_TRUE(out.valid);
    EXPECT_EQ(out.cmd, 0x42);
    EXPECT_FALSE(dev.SetTrigger(QX480TriggerMode::External));
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetDelay(1, 10, o); }), QX480Status::NotOpen);
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SendFrame(0x14, 0, nullptr, 0, &out, 1000, o); }),
              QX480Status::NotOpen);
    EXPECT_FALSE(dev.SoftwareTrigger());
    float celsius;
    EXPECT_FALSE(dev.ReadTemperature(&celsius));
    EXPECT_EQ(sim.BytesReceived(), 0u);
}

TEST_P(DeviceE2E, AnObserverSeesEachFrameSentReceivedAndDropped) {
    std::vector<std::pair<QX480FrameDirection, Bytes>> seen;
    dev.SetFrameObserver(
        [&](QX480FrameDirection d, const std::uint8_t* p, std::size_t n) { seen.emplace_back(d, Bytes(p, p + n)); });
    EXPECT_TRUE(dev.SetTrigger(QX480TriggerMode::Software));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, QX480FrameDirection::Sent);
    EXPECT_EQ(seen[0].second, golden::SET_TRIGGER_SOFTWARE.bytes);
    EXPECT_EQ(seen[1].first, QX480FrameDirection::Received);
    EXPECT_EQ(seen[1].second, golden::SET_TRIGGER_ACCEPTED.bytes);

    Faults f;
    f.foreignFrames = 1;
    SetFaults(f);
    seen.clear();
    EXPECT_TRUE(dev.SoftwareTrigger());
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].first, QX480FrameDirection::Dropped);
    EXPECT_NE(seen[1].second[4], 0x14) << "a frame of another command";
    EXPECT_EQ(seen[2].first, QX480FrameDirection::Received);
    EXPECT_EQ(seen[2].second, golden::SOFTWARE_TRIG_ACCEPTED.bytes);

    dev.SetFrameObserver(nullptr);
    EXPECT_TRUE(dev.SoftwareTrigger());
    EXPECT_EQ(seen.size(), 3u);
}

// An answer of `cmd` with a parameter block of `paBytes` bytes.
Bytes Answer(std::uint8_t cmd, std::uint16_t opt, std::size_t paBytes) {
    return FrameOf(cmd, opt, Bytes(paBytes, 0x11));
}

TEST(DeviceAnswers, AQueryAnswerTooShortForItIsAShortAnswerNotAnEcho) {
    struct Case {
        Bytes answer;
        bool temperature;
    };
    const Case cases[] = {
        {Answer(0x93, 1, 3), true},
        {Answer(0x93, 1, 0), true},  // option 1: not the request's own bytes
        {Answer(0xC1, 0, qx480::timing::BLOCK_SIZE - 1), false},
    };
    for (const Case& c : cases) {
        ScriptedPeer peer(c.answer);
        QX480DDG dev;
        ASSERT_TRUE(dev.Open(peer.Path().c_str(), 115200));
        float celsius = 1.0f;
        qx480::timing::Block block;
        block.triggerTicks = 7;
        const QX480Status status = c.temperature
                                       ? StatusOf([&](QX480Outcome& o) { return dev.ReadTemperature(&celsius, o); })
                                       : StatusOf([&](QX480Outcome& o) { return dev.ReadTimingBlock(&block, o); });
        EXPECT_EQ(status, QX480Status::ShortAnswer) << c.answer.size();
        EXPECT_EQ(celsius, 1.0f);
        EXPECT_EQ(block.triggerTicks, 7u);
    }
}

}  // namespace
