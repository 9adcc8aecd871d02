// SerialPort on real pseudo-terminals: the test opens the slave by its path
// through SerialPort and plays the far end on the master.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "pseudo_terminal.h"
#include "serial_port.h"
#include "thread_state.h"
#include "wait_until.h"

#ifdef __linux__
int ReadOutputBaudRate(int fd);  // termios2_speed_linux.cpp
#endif

namespace {

using Clock = std::chrono::steady_clock;
using qx480::test::Asleep;
using qx480::test::SystemThreadId;
using qx480::test::WaitUntil;
using std::chrono::milliseconds;

constexpr int BAUD = 115200;
constexpr int PTY_BUFFER_BYTES = 16896;  // what one direction of a Linux pty holds unread

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

int CountOpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

// For a far end that acts once the thread `reader` waits in the port.
bool AwaitReaderAsleep(long reader) {
    return WaitUntil([reader] { return Asleep(reader); }, milliseconds(2000));
}

class PtyPair : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_pty.Ok()); }

    bool OpenPort(SerialPort& port, int baud = BAUD, int dataBits = 8, StopBits stop = StopBits::One,
                  Parity parity = Parity::None) {
        return port.Open(m_pty.Path().c_str(), baud, dataBits, stop, parity);
    }

    void CloseMaster() { m_pty.CloseMaster(); }

    void SendFromFarEnd(const std::string& bytes) {
        ASSERT_EQ(write(m_pty.Master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Whatever the far end receives within `limitMs`, stopping once `want` bytes are in.
    std::string ReceiveAtFarEnd(std::size_t want, int limitMs) {
        std::string got;
        const Clock::time_point start = Clock::now();
        while (got.size() < want && ElapsedMs(start) < limitMs) {
            pollfd entry{m_pty.Master(), POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0) continue;
            char chunk[4096];
            const ssize_t n = read(m_pty.Master(), chunk, sizeof chunk);
            if (n <= 0) break;
            got.append(chunk, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Blocks until the port's side has input waiting.
    void AwaitInputAt(const SerialPort& port) {
        pollfd entry{port.GetHandle(), POLLIN, 0};
        ASSERT_EQ(poll(&entry, 1, 2000), 1);
    }

    termios SettingsOf(const SerialPort& port) {
        termios tio{};
        EXPECT_EQ(tcgetattr(port.GetHandle(), &tio), 0);
        return tio;
    }

    qx480::test::PtyPair m_pty;
};

// --- opening and closing ----------------------------------------------------

TEST(SerialPosix, NewPortIsClosedAndRefusesEverything) {
    SerialPort port;
    char byte = 0;
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), -1);
    EXPECT_EQ(port.Read(&byte, 1, 0), -1);
    EXPECT_EQ(port.Write(&byte, 1, 0), -1);
    EXPECT_FALSE(port.DiscardInput());
    EXPECT_FALSE(port.SetTimeout(0, 100));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(PtyPair, OpenCloseTwiceAndReopen) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_GE(port.GetHandle(), 0);
    EXPECT_TRUE(port.SetTimeout(123, 1000));
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), -1);
    char byte = 'x';
    EXPECT_EQ(port.Read(&byte, 1, 0), -1);
    EXPECT_EQ(port.Write(&byte, 1, 0), -1);
    EXPECT_FALSE(port.DiscardInput());
    EXPECT_FALSE(port.SetTimeout(0, 100));
    ASSERT_TRUE(OpenPort(port));
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(PtyPair, DescriptorIsCloseOnExecAndNonBlocking) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    EXPECT_NE(fcntl(port.GetHandle(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(fcntl(port.GetHandle(), F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(PtyPair, SecondOpenOfSameDeviceFailsUntilTheFirstCloses) {
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(OpenPort(first));
    const int before = CountOpenDescriptors();
    EXPECT_FALSE(OpenPort(second));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(CountOpenDescriptors(), before);
    EXPECT_TRUE(first.IsOpen());
    first.Close();
    EXPECT_TRUE(OpenPort(second));
}

TEST_F(PtyPair, OpeningAnOpenPortClosesItFirst) {
    SerialPort port;
    SerialPort other;
    ASSERT_TRUE(OpenPort(port));
    EXPECT_TRUE(OpenPort(port));  // the same device again: released, then taken
    EXPECT_FALSE(port.Open("/dev/qx480-no-such-port", BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(OpenPort(other));  // the failed open let go of the pty
    other.Close();
    ASSERT_TRUE(OpenPort(port));
    EXPECT_FALSE(port.Open(static_cast<const char*>(nullptr), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Open(static_cast<const wchar_t*>(nullptr), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_TRUE(OpenPort(other));
}

// A plain file, no terminal, in a directory of its own; both go with it.
class PlainFile {
public:
    PlainFile() {
        if (mkdtemp(m_dir) == nullptr) return;
        const std::string path = std::string(m_dir) + "/not-a-tty";
        std::FILE* created = std::fopen(path.c_str(), "w");
        if (created == nullptr) return;
        std::fclose(created);
        m_path = path;
    }
    ~PlainFile() {
        if (Made()) unlink(m_path.c_str());
        rmdir(m_dir);
    }
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;

    bool Made() const { return !m_path.empty(); }
    const char* Dir() const { return m_dir; }
    const char* Path() const { return m_path.c_str(); }

private:
    char m_dir[32] = "/tmp/qx480-serial-XXXXXX";
    std::string m_path;
};

TEST(SerialPosix, FailedOpensLeakNoDescriptor) {
    const PlainFile file;
    ASSERT_TRUE(file.Made());
    SerialPort port;
    const int before = CountOpenDescriptors();
    EXPECT_FALSE(port.Open("/dev/qx480-no-such-port", BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.Open(file.Path(), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.Open(file.Dir(), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(CountOpenDescriptors(), before);
}

SerialOpenError OpenError(SerialPort& port, const char* path, int baud = BAUD, int dataBits = 8) {
    SerialOpenError why = SerialOpenError::Other;
    const bool opened = port.Open(path, baud, dataBits, StopBits::One, Parity::None, why);
    EXPECT_EQ(opened, why == SerialOpenError::None) << path;
    return why;
}

TEST_F(PtyPair, EachFailedOpenSaysWhy) {
    const PlainFile file;
    ASSERT_TRUE(file.Made());
    SerialPort port;
    EXPECT_EQ(OpenError(port, nullptr), SerialOpenError::BadArgument);
    EXPECT_EQ(OpenError(port, m_pty.Path().c_str(), 0), SerialOpenError::BadArgument);
    EXPECT_EQ(OpenError(port, "/dev/qx480-no-such-port"), SerialOpenError::NoSuchPort);
    EXPECT_EQ(OpenError(port, file.Path()), SerialOpenError::NotSerial);
    EXPECT_EQ(OpenError(port, file.Dir()), SerialOpenError::NotSerial);
    EXPECT_EQ(OpenError(port, "/dev/null"), SerialOpenError::NotSerial);
    EXPECT_EQ(OpenError(port, m_pty.Path().c_str(), BAUD, 7), SerialOpenError::Settings)
        << "a pseudo-terminal runs 8N1";
    ASSERT_EQ(OpenError(port, m_pty.Path().c_str()), SerialOpenError::None);
    SerialPort second;
    EXPECT_EQ(OpenError(second, m_pty.Path().c_str()), SerialOpenError::Busy);
}

// Root opens anything: the refusal is shown by a child without privileges.
TEST(SerialPosix, AnOpenWithoutPermissionSaysSo) {
    if (geteuid() != 0) GTEST_SKIP() << "a child drops root's privileges to be refused";
    const PlainFile file;
    ASSERT_TRUE(file.Made());
    ASSERT_EQ(chmod(file.Path(), 0600), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SerialPort unprivileged;
        SerialOpenError why = SerialOpenError::None;
        const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
        unprivileged.Open(file.Path(), BAUD, 8, StopBits::One, Parity::None, why);
        _exit(dropped ? static_cast<int>(why) : 100);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(SerialOpenError::Permission));
}

TEST_F(PtyPair, WideNamesOpenTheDeviceAsUtf8WhateverTheLocale) {
    char dir[] = "/tmp/qx480-serial-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    // "pört-µ-€-🔌": two-, three- and four-byte sequences.
    const std::string link = std::string(dir) + "/p\xC3\xB6rt-\xC2\xB5-\xE2\x82\xAC-\xF0\x9F\x94\x8C";
    ASSERT_EQ(symlink(m_pty.Path().c_str(), link.c_str()), 0);
    const std::wstring wide =
        std::wstring(dir, dir + std::char_traits<char>::length(dir)) + L"/p\u00F6rt-\u00B5-\u20AC-\U0001F50C";

    SerialPort port;
    SerialPort narrow;
    ASSERT_TRUE(port.Open(std::wstring(m_pty.Path().begin(), m_pty.Path().end()).c_str(), BAUD, 8, StopBits::One,
                          Parity::None));
    EXPECT_FALSE(OpenPort(narrow));  // held by the wide-name open
    EXPECT_TRUE(port.Open(wide.c_str(), BAUD, 8, StopBits::One, Parity::None));
    port.Close();
    EXPECT_TRUE(port.Open(link.c_str(), BAUD, 8, StopBits::One, Parity::None));
    port.Close();

    const std::wstring surrogate =
        std::wstring(dir, dir + std::char_traits<char>::length(dir)) + L"/p" + static_cast<wchar_t>(0xD800);
    const std::wstring beyondUnicode = std::wstring(L"/dev/") + static_cast<wchar_t>(0x110000);
    EXPECT_FALSE(port.Open(surrogate.c_str(), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.Open(beyondUnicode.c_str(), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());

    unlink(link.c_str());
    rmdir(dir);
}

// --- line settings ----------------------------------------------------------

TEST_F(PtyPair, OpenSetsARawLineWithoutFlowControl) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port, 115200, 8, StopBits::One, Parity::None));
    const termios tio = SettingsOf(port);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (CSTOPB | PARENB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
}

TEST_F(PtyPair, TwoStopBitsAreSetAndReopeningClearsThem) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port, 9600, 8, StopBits::Two));
    termios tio = SettingsOf(port);
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    ASSERT_TRUE(OpenPort(port, 19200, 8, StopBits::One));
    tio = SettingsOf(port);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
}

TEST_F(PtyPair, ValuesOutsideTheEnumerationsGiveOneStopBitAndNoParity) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port, 9600, 8, StopBits::Two));
    ASSERT_TRUE(OpenPort(port, 9600, 8, static_cast<StopBits>(3), static_cast<Parity>(7)));
    EXPECT_EQ(SettingsOf(port).c_cflag & (CSTOPB | PARENB | PARODD), 0u);
}

TEST_F(PtyPair, UnsupportedLineFormatsAreRefused) {
    SerialPort port;
    const int before = CountOpenDescriptors();
    EXPECT_FALSE(OpenPort(port, BAUD, 4));
    EXPECT_FALSE(OpenPort(port, BAUD, 9));
    EXPECT_FALSE(OpenPort(port, BAUD, 8, StopBits::OnePointFive));
    EXPECT_FALSE(OpenPort(port, 0));
    EXPECT_FALSE(OpenPort(port, -9600));
#ifndef CMSPAR
    EXPECT_FALSE(OpenPort(port, BAUD, 8, StopBits::One, Parity::Mark));
    EXPECT_FALSE(OpenPort(port, BAUD, 8, StopBits::One, Parity::Space));
#endif
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(CountOpenDescriptors(), before);
}

// A pseudo-terminal always runs 8 data bits without parity: the driver drops
// what else it is given, so Open reports the format it could not set, each
// time alike, and lets go of the device.
TEST_F(PtyPair, FormatsTheDriverDropsMakeOpenFail) {
    SerialPort port;
    SerialPort other;
    const int before = CountOpenDescriptors();
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (int bits = 5; bits <= 7; ++bits) EXPECT_FALSE(OpenPort(port, BAUD, bits)) << bits;
        for (const Parity parity : {Parity::Odd, Parity::Even, Parity::Mark, Parity::Space}) {
            EXPECT_FALSE(OpenPort(port, BAUD, 8, StopBits::One, parity)) << static_cast<int>(parity);
        }
    }
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(CountOpenDescriptors(), before);
    EXPECT_TRUE(OpenPort(other));
}

#ifdef __linux__
TEST_F(PtyPair, NonStandardRatesAreSetThroughTermios2) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port, 250000));
    EXPECT_EQ(ReadOutputBaudRate(port.GetHandle()), 250000);
    ASSERT_TRUE(OpenPort(port, 250000));  // the same again: the driver has nothing to change
    EXPECT_EQ(ReadOutputBaudRate(port.GetHandle()), 250000);
    ASSERT_TRUE(OpenPort(port, 460800));
    EXPECT_EQ(ReadOutputBaudRate(port.GetHandle()), 460800);
    ASSERT_TRUE(OpenPort(port, 115200));  // a standard rate after a custom one
    EXPECT_EQ(ReadOutputBaudRate(port.GetHandle()), 115200);
    const termios tio = SettingsOf(port);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
}
#else
TEST_F(PtyPair, NonStandardRatesAreRefused) {
    SerialPort port;
    EXPECT_FALSE(OpenPort(port, 250000));
    EXPECT_FALSE(port.IsOpen());
}
#endif

// --- reading ----------------------------------------------------------------

TEST_F(PtyPair, ReadWithoutWaitingGivesZeroAtOnce) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    char buf[8];
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.Read(buf, sizeof buf, 0), 0);
    EXPECT_LT(ElapsedMs(start), 200);
}

TEST_F(PtyPair, ReadGivesZeroOnlyAfterItsLimit) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    char buf[8];
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.Read(buf, sizeof buf, 150), 0);
    const long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 1500);
}

TEST_F(PtyPair, ReadReturnsWhenDataArrivesWithinItsLimit) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    const long reader = SystemThreadId();
    for (const int limitMs : {2000, -1}) {
        bool waited = false;
        std::thread farEnd([this, reader, &waited] {
            waited = AwaitReaderAsleep(reader);
            SendFromFarEnd("hi");
        });
        char buf[8] = {};
        const Clock::time_point start = Clock::now();
        const int got = port.Read(buf, sizeof buf, limitMs);
        const long elapsed = ElapsedMs(start);
        farEnd.join();
        EXPECT_TRUE(waited) << limitMs;
        ASSERT_GE(got, 1) << limitMs;
        EXPECT_EQ(buf[0], 'h');
        EXPECT_LT(elapsed, 1500) << limitMs;
        if (got == 1) {
            EXPECT_EQ(port.Read(buf + 1, 1, 1000), 1);
        }
        EXPECT_EQ(std::string(buf, 2), "hi");
    }
}

std::atomic<bool> g_signalled{false};

void NoteSignal(int) { g_signalled = true; }

TEST_F(PtyPair, ReadThatASignalInterruptsKeepsWaiting) {
    ASSERT_TRUE(g_signalled.is_lock_free());  // so that the handler may set it
    g_signalled = false;
    struct sigaction quiet {};
    quiet.sa_handler = NoteSignal;  // no SA_RESTART: poll() fails with EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &quiet, &previous), 0);
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    const pthread_t reader = pthread_self();
    const long readerId = SystemThreadId();
    bool waited = false;
    bool waitedAgain = false;
    std::thread farEnd([this, reader, readerId, &waited, &waitedAgain] {
        waited = AwaitReaderAsleep(readerId);
        pthread_kill(reader, SIGUSR1);
        waitedAgain = WaitUntil([] { return g_signalled.load(); }, milliseconds(2000)) && AwaitReaderAsleep(readerId);
        SendFromFarEnd("k");
    });
    char byte = 0;
    const int got = port.Read(&byte, 1, 2000);
    farEnd.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(waited);
    EXPECT_TRUE(waitedAgain) << "the read waits on after the signal";
    EXPECT_EQ(got, 1);
    EXPECT_EQ(byte, 'k');
}

TEST_F(PtyPair, ReadTakesAtMostSizeAndLeavesTheRest) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    SendFromFarEnd("0123456789");
    std::string all;
    for (const int want : {4, 4, 2}) {
        char buf[4];
        const int got = port.Read(buf, sizeof buf, 1000);
        EXPECT_EQ(got, want);
        if (got > 0) all.append(buf, static_cast<std::size_t>(got));
    }
    EXPECT_EQ(all, "0123456789");
    char buf[4];
    EXPECT_EQ(port.Read(buf, sizeof buf, 0), 0);
}

TEST_F(PtyPair, ReadRefusesNullBufferAndEmptySize) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    SendFromFarEnd("z");
    AwaitInputAt(port);
    char byte = 0;
    EXPECT_EQ(port.Read(nullptr, 1, 0), -1);
    EXPECT_EQ(port.Read(&byte, 0, 0), -1);
    EXPECT_EQ(port.Read(&byte, -1, 0), -1);
    EXPECT_EQ(port.Write(nullptr, 1, 0), -1);
    EXPECT_EQ(port.Write(&byte, 0, 0), -1);
    EXPECT_EQ(port.Read(&byte, 1, 0), 1);  // the refusals consumed nothing
    EXPECT_EQ(byte, 'z');
}

TEST_F(PtyPair, HangUpOfTheFarEndFailsReadAndLeavesThePortOpen) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    SendFromFarEnd("lost");
    AwaitInputAt(port);
    CloseMaster();
    char buf[8];
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.Read(buf, sizeof buf, 1000), -1);
    EXPECT_EQ(port.Read(buf, sizeof buf, -1), -1);
    EXPECT_LT(ElapsedMs(start), 500);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Write("x", 1, 100), -1);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(PtyPair, HangUpEndsAReadThatIsWaiting) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    const long reader = SystemThreadId();
    bool waited = false;
    std::thread farEnd([this, reader, &waited] {
        waited = AwaitReaderAsleep(reader);
        CloseMaster();
    });
    char buf[8];
    const Clock::time_point start = Clock::now();
    const int got = port.Read(buf, sizeof buf, 10000);
    const long elapsed = ElapsedMs(start);
    farEnd.join();
    EXPECT_TRUE(waited);
    EXPECT_EQ(got, -1);
    EXPECT_LT(elapsed, 5000);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(PtyPair, DiscardInputThrowsAwayWaitingBytes) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    SendFromFarEnd("stale");
    AwaitInputAt(port);
    EXPECT_TRUE(port.DiscardInput());
    SendFromFarEnd("F");
    char buf[8];
    ASSERT_EQ(port.Read(buf, sizeof buf, 1000), 1);
    EXPECT_EQ(buf[0], 'F');
}

// --- writing ----------------------------------------------------------------

TEST_F(PtyPair, WrittenBytesReachTheFarEndUnchanged) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);  // no output processing: \n stays \n
    ASSERT_EQ(port.Write(bytes.data(), static_cast<int>(bytes.size()), 1000), static_cast<int>(bytes.size()));
    EXPECT_EQ(ReceiveAtFarEnd(bytes.size(), 2000), bytes);
}

TEST_F(PtyPair, WriteToAFarEndThatDoesNotReadIsShortAfterItsLimit) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    std::vector<char> bulk(64 * 1024);
    for (std::size_t i = 0; i < bulk.size(); ++i) bulk[i] = static_cast<char>(i * 7);
    const int size = static_cast<int>(bulk.size());
    ASSERT_GT(size, PTY_BUFFER_BYTES);

    const Clock::time_point start = Clock::now();
    const int written = port.Write(bulk.data(), size, 200);
    const long elapsed = ElapsedMs(start);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, size);
    EXPECT_GE(elapsed, 200);
    EXPECT_LT(elapsed, 2000);
    ASSERT_TRUE(port.IsOpen());

    const std::string drained = ReceiveAtFarEnd(static_cast<std::size_t>(written), 3000);
    EXPECT_EQ(drained, std::string(bulk.data(), static_cast<std::size_t>(written)));
    EXPECT_EQ(ReceiveAtFarEnd(1, 100), "");  // the count was exact
    EXPECT_EQ(port.Write("ok", 2, 1000), 2);
    EXPECT_EQ(ReceiveAtFarEnd(2, 2000), "ok");
}

TEST_F(PtyPair, WriteWithoutWaitingTakesWhatFits) {
    SerialPort port;
    ASSERT_TRUE(OpenPort(port));
    std::vector<char> bulk(64 * 1024, 'w');
    const int written = port.Write(bulk.data(), static_cast<int>(bulk.size()), 0);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(bulk.size()));
    EXPECT_TRUE(port.IsOpen());
}

}  // namespace
