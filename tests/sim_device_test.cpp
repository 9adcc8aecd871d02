// The simulated device on a real pseudo-terminal, driven by raw reads and
// writes: serving and stopping, faults and echoes on the line, late answers,
// the hang-up and restart, its link, a terminal it is given, bad options.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "frames.h"
#include "pseudo_terminal.h"
#include "sim_test_helpers.h"
#include "simulated_device.h"
#include "wait_until.h"

namespace {

using namespace simtest;
using qx480::sim::Echo;
using qx480::sim::Faults;
using qx480::sim::Options;
using qx480::sim::SimulatedDevice;
using qx480::test::FrameOf;
using qx480::test::Hex;
using qx480::test::Parsed;
using qx480::test::PtyPair;
using qx480::test::RawHost;
using qx480::test::U64;
using qx480::test::WaitUntil;
using qx480::test::operator+;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(SimulatedDevice, ServesAPseudoTerminal) {
    SimulatedDevice sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    EXPECT_FALSE(sim.Start());
    struct stat st {};
    ASSERT_EQ(stat(sim.Path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    RawHost host(sim.Path());
    ASSERT_TRUE(host.Ok());
    const Bytes junkAndRequests = Hex("01 02 03") + TEMP_REQUEST;
    ASSERT_TRUE(host.Write(junkAndRequests));
    EXPECT_EQ(host.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
    ASSERT_TRUE(host.Write(FrameOf(SET_DELAY, 2, U64(777))));
    EXPECT_TRUE(IsWriteSuccess(Parsed(host.Read(10))));
    EXPECT_EQ(sim.State().block.channels[1].delay, 777u);
    EXPECT_EQ(sim.Requests(), (std::vector<Bytes>{TEMP_REQUEST, FrameOf(SET_DELAY, 2, U64(777))}));
    EXPECT_EQ(sim.BytesReceived(), junkAndRequests.size() + 18);
}

// With no host on the port the device idles instead of spinning on the
// hang-up, and the next host is served.
TEST(SimulatedDevice, IdlesBetweenHostsAndServesTheNext) {
    SimulatedDevice sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    {
        RawHost first(sim.Path());
        ASSERT_TRUE(first.Write(TEMP_REQUEST));
        EXPECT_EQ(first.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
    }
    // The CPU time of the process over 300 ms of wall time.
    const std::clock_t cpu = std::clock();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10);
    RawHost again(sim.Path());
    ASSERT_TRUE(again.Write(TEMP_REQUEST));
    EXPECT_EQ(again.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
}

TEST(SimulatedDevice, StopsPromptlyWhileItHoldsBackAnAnswer) {
    Options options;
    options.faults.answerDelayMs = 60000;
    SimulatedDevice sim(options);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    RawHost host(sim.Path());
    ASSERT_TRUE(host.Write(TEMP_REQUEST));
    ASSERT_TRUE(sim.WaitForRequests(1, 2000));
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
    const Bytes expected = Accepted(SET_TRIGGER) + Accepted(SET_TRIG_FREQ) + Hex("55 CC") + TEMP_ANSWER;
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
    const Bytes setDelay = FrameOf(SET_DELAY, 5, U64(900));
    ASSERT_TRUE(host.Write(setDelay));
    const Bytes expected = setDelay + Accepted(SET_DELAY);
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

    const Bytes setWidth = FrameOf(SET_PULSE_WIDTH, 2, U64(31415));
    ASSERT_TRUE(host.Write(setWidth));
    const Bytes answers = TEMP_ANSWER + Accepted(SET_PULSE_WIDTH);
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
    EXPECT_TRUE(WaitUntil([&] { return !sim.Running(); }, milliseconds(1000)));
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

    PtyPair terminal;
    ASSERT_TRUE(terminal.Ok());
    terminal.CloseSlave();  // the device opens it by its path
    SimulatedDevice sim;
    ASSERT_TRUE(sim.ServeTty(terminal.Path())) << sim.Error();
    const int master = terminal.Master();
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
    terminal.CloseMaster();
    EXPECT_TRUE(WaitUntil([&] { return !sim.Running(); }, milliseconds(2000)));
    EXPECT_FALSE(sim.Running());
    EXPECT_FALSE(sim.HungUp());
}

// At 2400 baud a byte takes 4.17 ms: the request is taken once its ten
// bytes would have crossed, and the answer takes its fourteen bytes' time.
TEST(SimulatedDevice, PacedLineIsNeverFasterThanItsBaudRate) {
    Options options;
    options.paceBaud = 2400;
    SimulatedDevice sim(options);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    RawHost host(sim.Path());
    const auto start = Clock::now();
    ASSERT_TRUE(host.Write(TEMP_REQUEST));
    EXPECT_EQ(host.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
    const auto wireMs = (TEMP_REQUEST.size() + TEMP_ANSWER.size()) * 10 * 1000 / 2400;
    EXPECT_GE(Clock::now() - start, milliseconds(wireMs));
}

TEST(SimulatedDevice, RefusesInvalidOptions) {
    Options options;
    options.faults.dropEvery = -1;
    SimulatedDevice sim(options);
    EXPECT_FALSE(sim.Start());
    EXPECT_FALSE(sim.Error().empty());
    Options negativePace;
    negativePace.paceBaud = -1;
    SimulatedDevice unpaceable(negativePace);
    EXPECT_FALSE(unpaceable.Start());
    qx480::sim::Limits limits;
    limits.minTriggerTicks = 10;
    limits.maxTriggerTicks = 9;
    EXPECT_FALSE(sim.SetLimits(limits));
}

}  // namespace
