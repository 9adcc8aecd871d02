// The Windows build of the driver end to end under Wine: each Wine COM port
// in QX480_TEST_PORTS leads to a native simulated device on a
// pseudo-terminal, each started with one fault (see tests/CMakeLists.txt for
// the order). The clean device traces what it receives into the file named by
// QX480_SIM_TRACE, so the request bytes are checked where they arrived.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "golden_frames.h"
#include "qx480ddg.h"
#include "status_of.h"

namespace {

using qx480::test::StatusOf;

using qx480::test::GoldenFrame;
namespace golden = qx480::test::golden;

enum PortIndex { CLEAN, DROP, CORRUPT, SHORT_LENGTH, NOISY, LATE, HANG_UP, FOREIGN, LOOPBACK, PORT_COUNT };

using Clock = std::chrono::steady_clock;

std::vector<std::string> TestPorts() {
    std::vector<std::string> ports;
    const char* list = std::getenv("QX480_TEST_PORTS");
    std::istringstream words(list == nullptr ? "" : list);
    for (std::string port; words >> port;) ports.push_back(port);
    return ports;
}

// The last frame the clean device received, as its trace line prints it.
std::string LastTracedRequest() {
    const char* path = std::getenv("QX480_SIM_TRACE");
    std::ifstream trace(path == nullptr ? "" : path);
    std::string line, last;
    while (std::getline(trace, line)) {
        if (line.rfind("rx: ", 0) == 0) last = line.substr(4);
    }
    return last;
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class DeviceUnderWine : public testing::Test {
protected:
    static void SetUpTestSuite() { ports = TestPorts(); }

    void OpenPort(PortIndex index) {
        ASSERT_EQ(ports.size(), static_cast<std::size_t>(PORT_COUNT)) << "run through scripts/wine-harness";
        ASSERT_TRUE(dev.Open(ports[index].c_str(), 115200)) << ports[index];
    }

    void ExpectArrived(bool result, const GoldenFrame& request) {
        EXPECT_TRUE(result) << request.text;
        EXPECT_EQ(LastTracedRequest(), request.text);
    }

    static std::vector<std::string> ports;
    QX480DDG dev;
};

std::vector<std::string> DeviceUnderWine::ports;

TEST_F(DeviceUnderWine, EveryCommandArrivesExactlyAndIsReadBack) {
    OpenPort(CLEAN);
    ExpectArrived(dev.SetDelay(1, 10), golden::SET_DELAY_1_10NS);
    ExpectArrived(dev.SetPulseWidth(1, 100), golden::SET_PULSE_WIDTH_1_100NS);
    ExpectArrived(dev.SetInternalTriggerFreq(1000.0), golden::SET_TRIG_FREQ_1KHZ);
    ExpectArrived(dev.SetOutputChannel(1, true), golden::SET_CHANNEL_1_ON);
    ExpectArrived(dev.SetGlobalOutput(true), golden::SET_GLOBAL_OUTPUT_ON);
    ExpectArrived(dev.SetTrigger(QX480TriggerMode::Software), golden::SET_TRIGGER_SOFTWARE);
    ExpectArrived(dev.SoftwareTrigger(), golden::SOFTWARE_TRIG);
    EXPECT_TRUE(dev.SetDelay(8, 123456));
    EXPECT_TRUE(dev.SetPulseWidth(8, 7));

    float celsius = 0;
    ExpectArrived(dev.ReadTemperature(&celsius), golden::READ_TEMP);
    EXPECT_EQ(celsius, 29.59375f);

    QX480TimingConfig c1{}, c8{};
    ExpectArrived(dev.ReadTimingConfig(1, &c1), golden::READ_TIMING);
    ExpectArrived(dev.ReadTimingConfig(8, &c8), golden::READ_TIMING);
    EXPECT_EQ(c1.channel, 1);
    EXPECT_EQ(c1.delayNs, 10);
    EXPECT_EQ(c1.widthNs, 100);
    EXPECT_EQ(c1.triggerFreqHz, 1000.0);
    EXPECT_EQ(c8.channel, 8);
    EXPECT_EQ(c8.delayNs, 123456);
    EXPECT_EQ(c8.widthNs, 7);
    EXPECT_EQ(c8.word128, 0x1234u) << "set on the simulated device's command line";
    EXPECT_EQ(c8.byte131, 255u);
}

TEST_F(DeviceUnderWine, RefusalsSendNothingAndDeviceRefusalsAreFalse) {
    OpenPort(CLEAN);
    ASSERT_TRUE(dev.SoftwareTrigger());
    const std::string before = LastTracedRequest();
    EXPECT_FALSE(dev.SetDelay(9, 10));
    EXPECT_FALSE(dev.SetPulseWidth(1, -1));
    EXPECT_FALSE(dev.SetOutputChannel(0, true));
    EXPECT_FALSE(dev.SetInternalTriggerFreq(0.0));
    EXPECT_FALSE(dev.ReadTimingConfig(9, nullptr));
    EXPECT_EQ(LastTracedRequest(), before);

    EXPECT_FALSE(dev.SetPulseWidth(2, 20'000'000'000)) << "past the device's longest width";
    QX480TimingConfig c2{};
    ASSERT_TRUE(dev.ReadTimingConfig(2, &c2));
    EXPECT_EQ(c2.widthNs, 0);
}

TEST_F(DeviceUnderWine, NoisyAndFragmentedResponsesAreAssembled) {
    OpenPort(NOISY);
    float celsius = 0;
    EXPECT_TRUE(dev.ReadTemperature(&celsius));
    EXPECT_EQ(celsius, 29.59375f);
    QX480TimingConfig c{};
    EXPECT_TRUE(dev.ReadTimingConfig(4, &c));
    EXPECT_TRUE(dev.SetDelay(4, 5));
}

TEST_F(DeviceUnderWine, FramesOfOtherCommandsBeforeTheAnswerAreDropped) {
    OpenPort(FOREIGN);
    float celsius = 0;
    EXPECT_TRUE(dev.ReadTemperature(&celsius));
    EXPECT_EQ(celsius, 29.59375f);
    EXPECT_TRUE(dev.SetDelay(3, 40));
    QX480TimingConfig c{};
    ASSERT_TRUE(dev.ReadTimingConfig(3, &c));
    EXPECT_EQ(c.delayNs, 40);
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetPulseWidth(2, 20'000'000'000, o); }), QX480Status::Refused);
}

TEST_F(DeviceUnderWine, AQueryOnALoopbackIsAnEcho) {
    OpenPort(LOOPBACK);
    float celsius = 1.0f;
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTemperature(&celsius, o); }), QX480Status::Echo);
    EXPECT_EQ(celsius, 1.0f);
    qx480::timing::Block block;
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.ReadTimingBlock(&block, o); }), QX480Status::Echo);
}

TEST_F(DeviceUnderWine, EachFailureGivesItsOwnStatus) {
    const std::pair<PortIndex, QX480Status> expected[] = {
        {DROP, QX480Status::NoAnswer},
        {CORRUPT, QX480Status::CorruptAnswer},
        {SHORT_LENGTH, QX480Status::CorruptAnswer},
    };
    for (const auto& [index, status] : expected) {
        OpenPort(index);
        EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SoftwareTrigger(o); }), status) << index;
    }
}

TEST_F(DeviceUnderWine, MissingOrLateResponsesFailAfterTheLimit) {
    for (PortIndex index : {DROP, LATE}) {
        OpenPort(index);
        const auto start = Clock::now();
        EXPECT_FALSE(dev.SetGlobalOutput(true)) << index;
        const long long ms = MillisecondsSince(start);
        EXPECT_GE(ms, 950) << index;
        EXPECT_LT(ms, 3000) << index;
    }
    // The late answer to the output switch, "accepted", lands in this exchange,
    // whose own answer comes 1500 ms after it: the call gets no answer of its own.
    const auto start = Clock::now();
    EXPECT_EQ(StatusOf([&](QX480Outcome& o) { return dev.SetDelay(1, 10, o); }), QX480Status::NoAnswer);
    EXPECT_GE(MillisecondsSince(start), 950);
}

TEST_F(DeviceUnderWine, CorruptOrShortResponsesFailWithoutWaitingOutTheLimit) {
    for (PortIndex index : {CORRUPT, SHORT_LENGTH}) {
        OpenPort(index);
        const auto start = Clock::now();
        float celsius = 1.0f;
        EXPECT_FALSE(dev.ReadTemperature(&celsius)) << index;
        EXPECT_EQ(celsius, 1.0f);
        EXPECT_LT(MillisecondsSince(start), 900) << index;
    }
}

TEST_F(DeviceUnderWine, AfterAHangUpCallsFailAndThePortStaysOpen) {
    OpenPort(HANG_UP);
    EXPECT_TRUE(dev.SoftwareTrigger());
    QX480Status after = QX480Status::Accepted;
    for (int i = 0; i < 5 && after == QX480Status::Accepted; ++i) {
        after = StatusOf([&](QX480Outcome& o) { return dev.SoftwareTrigger(o); });
    }
    EXPECT_EQ(after, QX480Status::PortFailed) << "a hang-up is the port failing, not a silence";
    EXPECT_TRUE(dev.IsOpen());
}

}  // namespace
