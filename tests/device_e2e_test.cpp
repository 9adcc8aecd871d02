// The driver end to end against the simulated device over a real
// pseudo-terminal: exact request bytes, state changes read back, refusals,
// and every fault of the exchange.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "qx480ddg.h"
#include "simulated_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qx480::sim::Faults;
using Clock = std::chrono::steady_clock;

Bytes Hex(const char* text) {
    Bytes out;
    unsigned v;
    int n;
    while (std::sscanf(text, "%2x%n", &v, &n) == 1) {
        out.push_back(static_cast<std::uint8_t>(v));
        text += n;
    }
    return out;
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class DeviceE2E : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        ASSERT_TRUE(dev.Open(sim.Path().c_str(), 115200));
    }

    Bytes LastRequest() const {
        const auto log = sim.Requests();
        return log.empty() ? Bytes{} : log.back();
    }

    Bytes LastRequestParameters() const {
        const Bytes r = LastRequest();
        return r.size() < 10 ? Bytes{} : Bytes(r.begin() + 7, r.end() - 3);
    }

    void ExpectRequest(bool result, const char* hex) {
        EXPECT_TRUE(result) << hex;
        EXPECT_EQ(LastRequest(), Hex(hex));
    }

    void SetFaults(const Faults& f) { ASSERT_TRUE(sim.SetFaults(f)); }

    qx480::sim::SimulatedDevice sim;
    QX480DDG dev;
};

TEST_F(DeviceE2E, EveryCommandSendsItsExactRequestAndChangesTheDevice) {
    ExpectRequest(dev.SetDelay(1, 10), "EB 90 0E 00 08 01 00 E8 03 00 00 00 00 00 00 7D 02 CC");
    ExpectRequest(dev.SetPulseWidth(1, 100), "EB 90 0E 00 09 01 00 10 27 00 00 00 00 00 00 CA 01 CC");
    ExpectRequest(dev.SetInternalTriggerFreq(1000.0), "EB 90 0A 00 05 00 00 90 D0 03 00 ED 02 CC");
    ExpectRequest(dev.SetOutputChannel(1, true), "EB 90 06 00 06 01 01 89 01 CC");
    ExpectRequest(dev.SetGlobalOutput(true), "EB 90 06 00 07 01 00 89 01 CC");
    ExpectRequest(dev.SetTrigger(QX480TriggerMode::Software), "EB 90 06 00 01 03 00 85 01 CC");
    ExpectRequest(dev.SoftwareTrigger(), "EB 90 06 00 14 00 00 95 01 CC");

    const auto s = sim.State();
    EXPECT_EQ(s.delay[0], 1000u);
    EXPECT_EQ(s.width[0], 10000u);
    EXPECT_EQ(s.triggerTicks, 250000u);
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

TEST_F(DeviceE2E, QueriesReadTheTemperatureAndBothEndChannelsBack) {
    auto s = sim.State();
    s.delay[0] = 199;  // 1.99 ns reads back as 1 ns
    s.width[0] = 5000;
    s.delay[7] = UINT64_MAX;
    s.width[7] = 123400;
    s.time140[7] = 700;
    s.time204[7] = 900;
    s.triggerTicks = 250000;
    s.word128 = 0x1234;
    s.byte130 = 7;
    s.byte131 = 0xFF;
    s.byte136 = 1;
    s.byte137 = 2;
    s.word138 = 0xBEEF;
    s.float276 = -1.5f;
    s.temperature = 31.25f;
    sim.SetState(s);

    float celsius = 0;
    ExpectRequest(dev.ReadTemperature(&celsius), "EB 90 06 00 93 00 00 14 02 CC");
    EXPECT_EQ(celsius, 31.25f);

    QX480TimingConfig c1{}, c8{};
    ExpectRequest(dev.ReadTimingConfig(1, &c1), "EB 90 06 00 C1 00 00 42 02 CC");
    ExpectRequest(dev.ReadTimingConfig(8, &c8), "EB 90 06 00 C1 00 00 42 02 CC");
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

TEST_F(DeviceE2E, RefusedArgumentsSendNothing) {
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
    EXPECT_EQ(config.channel, 42);
    EXPECT_EQ(celsius, 5.0f);

    // A frame that does go out afterwards is the first thing the device sees.
    EXPECT_TRUE(dev.SoftwareTrigger());
    EXPECT_EQ(sim.BytesReceived(), 10u);
}

TEST_F(DeviceE2E, TimesAndRatesAtTheWireLimitsAreSentExactly) {
    EXPECT_FALSE(dev.SetDelay(1, qx480::units::MAX_TIME_NS)) << "beyond the simulated device's 10 s";
    EXPECT_EQ(LastRequestParameters(), Hex("F0 FF FF FF FF FF FF FF")) << "(2^64 - 1) / 100 * 100 = 2^64 - 16";
    EXPECT_FALSE(dev.SetInternalTriggerFreq(300e6)) << "a period of 0 ticks, refused by the device";
    EXPECT_EQ(LastRequestParameters(), Hex("00 00 00 00"));
    EXPECT_EQ(sim.State().delay[0], 0u);
}

TEST_F(DeviceE2E, ADeviceRefusalIsFalseAndChangesNothing) {
    EXPECT_FALSE(dev.SetPulseWidth(2, 20'000'000'000));  // 20 s: past the device's maximum
    EXPECT_EQ(sim.RequestCount(), 1);
    EXPECT_EQ(sim.State().width[1], 0u);
    EXPECT_TRUE(dev.SetPulseWidth(2, 10'000'000'000));
    EXPECT_EQ(sim.State().width[1], 1'000'000'000'000u);
}

TEST_F(DeviceE2E, SendFrameWithoutARecordDoesNotWaitForTheResponse) {
    Faults f;
    f.answerDelayMs = 500;
    SetFaults(f);
    const auto start = Clock::now();
    EXPECT_TRUE(dev.SendFrame(0x14, 0, nullptr, 0, nullptr, 1000));
    EXPECT_LT(MillisecondsSince(start), 400);
    EXPECT_TRUE(sim.WaitForRequests(1, 2000));
}

TEST_F(DeviceE2E, NoisyAndFragmentedResponsesAreAssembled) {
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

TEST_F(DeviceE2E, ResponsesThatNeverComeOrComeLateFailAfterTheLimit) {
    Faults dropped;
    dropped.dropEvery = 1;
    Faults late;
    late.answerDelayMs = 1500;
    for (const Faults& f : {dropped, late}) {
        SetFaults(f);
        const auto start = Clock::now();
        EXPECT_FALSE(dev.SetGlobalOutput(true));
        const long long ms = MillisecondsSince(start);
        EXPECT_GE(ms, 950);
        EXPECT_LT(ms, 2500);
    }
    // The late answer arrives while nobody listens; the next exchange throws it away.
    SetFaults(Faults{});
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    float celsius = 0;
    EXPECT_TRUE(dev.ReadTemperature(&celsius));
    EXPECT_EQ(celsius, qx480::sim::DEFAULT_TEMPERATURE);
}

TEST_F(DeviceE2E, CorruptOrShortResponsesFailAtOnce) {
    Faults corrupt;
    corrupt.corruptEvery = 1;
    Faults shortLength;
    shortLength.shortLength = true;
    for (const Faults& f : {corrupt, shortLength}) {
        SetFaults(f);
        const auto start = Clock::now();
        EXPECT_FALSE(dev.SoftwareTrigger());
        float celsius = 1.0f;
        EXPECT_FALSE(dev.ReadTemperature(&celsius));
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

TEST_F(DeviceE2E, AfterAHangUpCallsFailAndARestartedDeviceOpensAfresh) {
    Faults f;
    f.hangUpAfter = 1;
    SetFaults(f);
    EXPECT_TRUE(dev.SoftwareTrigger());
    for (int i = 0; i < 50 && !sim.HungUp(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(sim.HungUp());
    const auto start = Clock::now();
    EXPECT_FALSE(dev.SoftwareTrigger());
    float celsius = 0;
    EXPECT_FALSE(dev.ReadTemperature(&celsius));
    EXPECT_LT(MillisecondsSince(start), 1500) << "a hang-up is an error, not a silence";
    EXPECT_TRUE(dev.IsOpen());

    SetFaults(Faults{});
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(dev.Open(sim.Path().c_str(), 115200));
    EXPECT_TRUE(dev.SoftwareTrigger());
}

TEST_F(DeviceE2E, APortHeldByAnotherHandleCannotBeOpened) {
    dev.Close();
    SerialPort holder;
    ASSERT_TRUE(holder.Open(sim.Path().c_str(), 115200, 8, StopBits::One, Parity::None));
    QX480DDG second;
    EXPECT_FALSE(second.Open(sim.Path().c_str(), 115200));
    EXPECT_FALSE(second.IsOpen());
    holder.Close();
    EXPECT_TRUE(second.Open(sim.Path().c_str(), 115200));
}

TEST_F(DeviceE2E, AClosedDeviceSendsNothing) {
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
    EXPECT_FALSE(dev.SetDelay(1, 10));
    EXPECT_FALSE(dev.SoftwareTrigger());
    float celsius;
    EXPECT_FALSE(dev.ReadTemperature(&celsius));
    EXPECT_EQ(sim.BytesReceived(), 0u);
}

TEST_F(DeviceE2E, AnObserverSeesEachFrameSentAndReceived) {
    std::vector<std::pair<QX480FrameDirection, Bytes>> seen;
    dev.SetFrameObserver(
        [&](QX480FrameDirection d, const std::uint8_t* p, std::size_t n) { seen.emplace_back(d, Bytes(p, p + n)); });
    EXPECT_TRUE(dev.SetTrigger(QX480TriggerMode::Software));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, QX480FrameDirection::Sent);
    EXPECT_EQ(seen[0].second, Hex("EB 90 06 00 01 03 00 85 01 CC"));
    EXPECT_EQ(seen[1].first, QX480FrameDirection::Received);
    EXPECT_EQ(seen[1].second, Hex("EB 90 06 00 01 01 00 83 01 CC"));
    dev.SetFrameObserver(nullptr);
    EXPECT_TRUE(dev.SoftwareTrigger());
    EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
