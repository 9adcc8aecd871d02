// The qx480-sim program: its command line and usage, the timing-block fields
// its flags set, its echo and foreign-frame flags on the line, the temperature
// its signals move, and a clean exit on SIGTERM.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "frames.h"
#include "pseudo_terminal.h"
#include "sim_test_helpers.h"
#include "simulated_device.h"

extern char** environ;

namespace {

using namespace simtest;
using qx480::test::FrameOf;
using qx480::test::Parsed;
using qx480::test::RawHost;
using qx480::test::operator+;
using Clock = std::chrono::steady_clock;
namespace t = qx480::timing;

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
    // The path the program prints first, without its line end.
    std::string ServedPath() const {
        std::string line = Drain(out, true);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return line;
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
                                                                  {"--float276", "nan"},
                                                                  {"--pace", "fast"},
                                                                  {"--pace", "9600", "--listen", "0"}}) {
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

// A host on the device that `p` serves; null when `p` printed no path or the
// path does not open.
std::unique_ptr<RawHost> HostOf(const Program& p) {
    const std::string path = p.ServedPath();
    auto host = std::make_unique<RawHost>(path);
    return !path.empty() && host->Ok() ? std::move(host) : nullptr;
}

// The timing block the device that `p` serves reports.
void ReadBlock(const Program& p, t::Block& b) {
    const auto host = HostOf(p);
    ASSERT_TRUE(host) << Program::Drain(p.err);
    ASSERT_TRUE(host->Write(FrameOf(READ_TIMING, 0)));
    ASSERT_TRUE(t::Decode(Parsed(host->Read(t::BLOCK_SIZE + qx480::frame::OVERHEAD)), b));
}

// Each device field no command sets has a flag, given its own offset; the
// fields commands set keep their power-on values.
TEST(SimProgram, EachDeviceFieldFlagReachesTheTimingBlock) {
    std::vector<std::string> args;
    for (const t::DeviceField& f : t::DEVICE_FIELDS) {
        if (!f.setByCommand) args.push_back("--" + std::string(f.name) + "=" + std::to_string(f.offset));
    }
    Program p(args);
    ASSERT_GT(p.pid, 0);
    t::Block b;
    ASSERT_NO_FATAL_FAILURE(ReadBlock(p, b));

    const t::Block powerOn = qx480::sim::PowerOnBlock();
    for (const t::DeviceField& f : t::DEVICE_FIELDS) {
        std::visit(
            [&](auto member) {
                const double expected = f.setByCommand ? static_cast<double>(powerOn.*member) : f.offset;
                EXPECT_EQ(static_cast<double>(b.*member), expected) << f.name;
            },
            f.member);
    }
}

// The first per-channel field a flag sets takes eight values (the last the
// largest count), the others one value, their offset, for every channel;
// the fields commands set stay 0.
TEST(SimProgram, EachChannelFieldFlagReachesEveryChannel) {
    std::vector<std::string> args;
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
    t::Block b;
    ASSERT_NO_FATAL_FAILURE(ReadBlock(p, b));

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
    const auto host = HostOf(p);
    ASSERT_TRUE(host);
    ASSERT_TRUE(host->Write(TEMP_REQUEST));
    const Bytes expected = TEMP_REQUEST + Accepted(SET_TRIGGER) + TEMP_ANSWER;
    EXPECT_EQ(host->Read(expected.size()), expected);
}

TEST(SimProgram, PrintsThePathServesAndExitsCleanlyOnSigterm) {
    Program p({"--temp", "21.5"});
    ASSERT_GT(p.pid, 0);
    {
        const auto host = HostOf(p);
        ASSERT_TRUE(host);
        ASSERT_TRUE(host->Write(TEMP_REQUEST));
        EXPECT_EQ(Parsed(host->Read(TEMP_ANSWER.size())).ReadFloat(0), 21.5f);
    }
    kill(p.pid, SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(Program::Drain(p.err), "");
}

// Each SIGUSR1 adds --temp-step, each SIGUSR2 takes it away, and each change
// is printed as it takes effect; the device then reports the new temperature.
TEST(SimProgram, SignalsMoveTheTemperatureByItsStep) {
    Program p({"--temp", "21.5", "--temp-step", "0.25"});
    ASSERT_GT(p.pid, 0);
    const auto host = HostOf(p);
    ASSERT_TRUE(host);
    for (const auto& [signal, line] : std::vector<std::pair<int, std::string>>{
             {SIGUSR1, "temperature 21.75\n"}, {SIGUSR1, "temperature 22\n"}, {SIGUSR2, "temperature 21.75\n"}}) {
        kill(p.pid, signal);
        EXPECT_EQ(Program::Drain(p.out, true), line);
    }
    ASSERT_TRUE(host->Write(TEMP_REQUEST));
    EXPECT_EQ(Parsed(host->Read(TEMP_ANSWER.size())).ReadFloat(0), 21.75f);
    EXPECT_EQ(Program::Drain(Program({"--temp-step", "warm"}).err),
              "qx480-sim: --temp-step: 'warm' is not a finite number\n");
}

}  // namespace
