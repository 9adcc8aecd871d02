// Exclusive mode on the simulated device's terminal: the check that clears it
// once no flock holds the terminal, and the device clearing what a killed
// host left behind, seen by an unprivileged process.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "pseudo_terminal.h"
#include "serial_port.h"
#include "sim_test_helpers.h"
#include "simulated_device.h"
#include "tty_exclusive.h"
#include "wait_until.h"

namespace {

using namespace simtest;
using qx480::sim::SimulatedDevice;
using qx480::test::PtyPair;
using qx480::test::RawHost;
using qx480::test::WaitUntil;
using std::chrono::milliseconds;

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
    PtyPair terminal;
    ASSERT_TRUE(terminal.Ok());
    const int device = terminal.Slave();
    const int host = open(terminal.Path().c_str(), O_RDWR | O_NOCTTY);
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
    PtyPair other;
    ASSERT_TRUE(other.Ok());
    ASSERT_EQ(flock(other.Master(), LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(ioctl(host, TIOCEXCL), 0);
    EXPECT_TRUE(qx480::sim::ClearOrphanedExclusive(device));
    EXPECT_FALSE(Exclusive(device));
    close(host);
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
    int error = EBUSY;
    EXPECT_FALSE(WaitUntil([&] { return (error = OpenAsNobody(path)) != EBUSY; }, milliseconds(500)))
        << std::strerror(error);

    ASSERT_EQ(kill(host, SIGKILL), 0);
    ASSERT_EQ(waitpid(host, nullptr, 0), host);
    EXPECT_TRUE(WaitUntil([&] { return (error = OpenAsNobody(path)) == 0; }, milliseconds(5000)))
        << std::strerror(error);

    RawHost next(path);
    ASSERT_TRUE(next.Write(TEMP_REQUEST));
    EXPECT_EQ(next.Read(TEMP_ANSWER.size()), TEMP_ANSWER);
}

}  // namespace
