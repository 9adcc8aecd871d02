// SerialPort on Windows. The DCB mapping is checked without a device; the rest
// runs on an echo COM port that scripts/wine-harness serves (a pseudo-terminal
// whose far end sends every byte back) and names in QX480_TEST_PORTS.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dcb_line_settings.h"
#include "serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int BAUD = 115200;
constexpr int POLL_READ_MS = 50;
constexpr auto ECHO_DEADLINE = std::chrono::seconds(10);
constexpr const char* MISSING_PORT = "\\\\.\\COM99";
constexpr const wchar_t* MISSING_PORT_W = L"\\\\.\\COM99";

// The flag bits that Open sets or clears, and those it sets, with fBinary as bit 0.
constexpr DWORD FLAGS_CHANGED = 0x232E;
constexpr DWORD FLAGS_SET = 0x1011;
constexpr DWORD FLAG_PARITY = 0x0002;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

// The 32-bit word of DCB bit fields sits between BaudRate and wReserved.
constexpr std::size_t FLAG_WORD_OFFSET = offsetof(DCB, BaudRate) + sizeof(DWORD);
static_assert(offsetof(DCB, wReserved) == FLAG_WORD_OFFSET + sizeof(DWORD), "one flag word in DCB");

DWORD FlagWord(const DCB& dcb) {
    DWORD word;
    std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + FLAG_WORD_OFFSET, sizeof(word));
    return word;
}

void SetFlagWord(DCB& dcb, DWORD word) {
    std::memcpy(reinterpret_cast<char*>(&dcb) + FLAG_WORD_OFFSET, &word, sizeof(word));
}

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

DCB CommState(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    EXPECT_TRUE(GetCommState(port, &dcb));
    return dcb;
}

COMMTIMEOUTS CommTimeouts(HANDLE port) {
    COMMTIMEOUTS timeouts{};
    EXPECT_TRUE(GetCommTimeouts(port, &timeouts));
    return timeouts;
}

void ExpectTimeouts(const COMMTIMEOUTS& got, const COMMTIMEOUTS& want) {
    EXPECT_EQ(got.ReadIntervalTimeout, want.ReadIntervalTimeout);
    EXPECT_EQ(got.ReadTotalTimeoutMultiplier, want.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(got.ReadTotalTimeoutConstant, want.ReadTotalTimeoutConstant);
    EXPECT_EQ(got.WriteTotalTimeoutMultiplier, want.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(got.WriteTotalTimeoutConstant, want.WriteTotalTimeoutConstant);
}

DWORD BytesWaiting(HANDLE port) {
    COMSTAT status{};
    DWORD errors = 0;
    EXPECT_TRUE(ClearCommError(port, &errors, &status));
    return status.cbInQue;
}

std::vector<unsigned char> Pattern(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 256);
    return bytes;
}

// Under Wine a read that finds nothing stays pending for its whole limit, so
// reads are polled with a short limit until everything is in or time is up.
std::vector<unsigned char> ReadUpTo(SerialPort& port, std::size_t size) {
    std::vector<unsigned char> got(size);
    std::size_t count = 0;
    const auto start = Clock::now();
    while (count < size && Clock::now() - start < ECHO_DEADLINE) {
        const int n = port.Read(got.data() + count, static_cast<int>(size - count), POLL_READ_MS);
        if (n < 0) break;
        count += static_cast<std::size_t>(n);
    }
    got.resize(count);
    return got;
}

bool WaitForBytesWaiting(HANDLE port, DWORD count) {
    const auto start = Clock::now();
    while (Clock::now() - start < ECHO_DEADLINE) {
        if (BytesWaiting(port) >= count) return true;
        Sleep(5);
    }
    return false;
}

TEST(SerialPortClosed, RefusesEveryOperationAndClosesHarmlessly) {
    SerialPort port;
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), INVALID_HANDLE_VALUE);
    unsigned char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(port.Read(buffer, sizeof(buffer), 10), -1);
    EXPECT_EQ(port.Write(buffer, sizeof(buffer), 10), -1);
    EXPECT_FALSE(port.SetTimeout(0, 500));
    const COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
    EXPECT_FALSE(port.SetTimeouts(timeouts));
    EXPECT_FALSE(port.DiscardInput());
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), INVALID_HANDLE_VALUE);
}

TEST(SerialPortClosed, OpenRefusesNullMissingAndMalformedNames) {
    SerialPort port;
    EXPECT_FALSE(port.Open(static_cast<const wchar_t*>(nullptr), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.Open(static_cast<const char*>(nullptr), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.Open(MISSING_PORT_W, BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.Open(MISSING_PORT, BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.Open("\\\\.\\COM\xC3", BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), INVALID_HANDLE_VALUE);
    SerialOpenError why = SerialOpenError::None;
    EXPECT_FALSE(port.Open(MISSING_PORT, BAUD, 8, StopBits::One, Parity::None, why));
    EXPECT_EQ(why, SerialOpenError::NoSuchPort);
    EXPECT_FALSE(port.Open("\\\\.\\COM\xC3", BAUD, 8, StopBits::One, Parity::None, why));
    EXPECT_EQ(why, SerialOpenError::BadArgument) << "not UTF-8";
    EXPECT_FALSE(port.Open(MISSING_PORT, 0, 8, StopBits::One, Parity::None, why));
    EXPECT_EQ(why, SerialOpenError::BadArgument);
}

TEST(DcbLineSettings, FlagWordFollowsTheRuleForEveryReportedWord) {
    const DWORD reported[] = {0x00000000, 0xFFFFFFFF, FLAGS_SET, FLAGS_CHANGED, 0xAAAAAAAA, 0x55555555, 0x00004CC1};
    const int parities[] = {0, 1, 2, 3, 4, 7, -1};
    for (DWORD before : reported) {
        for (int parity : parities) {
            DCB dcb{};
            SetFlagWord(dcb, before);
            qx480::detail::ApplyLineSettings(dcb, BAUD, 8, StopBits::One, static_cast<Parity>(parity));
            const DWORD want = (before & ~FLAGS_CHANGED) | FLAGS_SET | (parity != 0 ? FLAG_PARITY : 0);
            EXPECT_EQ(FlagWord(dcb), want) << std::hex << "reported 0x" << before << ", parity " << parity;
        }
    }
}

TEST(DcbLineSettings, MapsTheLineFormatAndKeepsTheOtherFields) {
    struct Case {
        int stopBits, parity;
        BYTE dcbStopBits, dcbParity;
    };
    const Case cases[] = {{0, 0, ONESTOPBIT, NOPARITY},    {1, 1, ONE5STOPBITS, ODDPARITY},
                          {2, 2, TWOSTOPBITS, EVENPARITY}, {0, 3, ONESTOPBIT, MARKPARITY},
                          {0, 4, ONESTOPBIT, SPACEPARITY}, {3, 7, ONESTOPBIT, NOPARITY},
                          {-1, -1, ONESTOPBIT, NOPARITY}};
    for (const Case& c : cases) {
        DCB dcb;
        std::memset(&dcb, 0xA5, sizeof(dcb));
        const DCB reported = dcb;
        qx480::detail::ApplyLineSettings(dcb, -1, 0x107, static_cast<StopBits>(c.stopBits),
                                         static_cast<Parity>(c.parity));
        EXPECT_EQ(dcb.StopBits, c.dcbStopBits) << "stop bits " << c.stopBits;
        EXPECT_EQ(dcb.Parity, c.dcbParity) << "parity " << c.parity;
        EXPECT_EQ(dcb.BaudRate, 0xFFFFFFFFu);
        EXPECT_EQ(dcb.ByteSize, 7);
        EXPECT_EQ(dcb.DCBlength, reported.DCBlength);
        EXPECT_EQ(dcb.wReserved, reported.wReserved);
        EXPECT_EQ(dcb.XonLim, reported.XonLim);
        EXPECT_EQ(dcb.XoffLim, reported.XoffLim);
        EXPECT_EQ(dcb.XonChar, reported.XonChar);
        EXPECT_EQ(dcb.XoffChar, reported.XoffChar);
        EXPECT_EQ(dcb.ErrorChar, reported.ErrorChar);
        EXPECT_EQ(dcb.EofChar, reported.EofChar);
        EXPECT_EQ(dcb.EvtChar, reported.EvtChar);
        EXPECT_EQ(dcb.wReserved1, reported.wReserved1);
    }
}

class EchoPort : public ::testing::Test {
protected:
    void SetUp() override {
        const char* ports = std::getenv("QX480_TEST_PORTS");
        if (ports == nullptr || *ports == '\0') GTEST_SKIP() << "no echo port: run through scripts/wine-harness";
        m_name = ports;
        m_name = m_name.substr(0, m_name.find(' '));
        m_wideName.assign(m_name.begin(), m_name.end());
    }

    bool OpenEcho(SerialPort& port, StopBits stopBits = StopBits::One, Parity parity = Parity::None) {
        return port.Open(m_wideName.c_str(), BAUD, 8, stopBits, parity);
    }

    void ExpectEchoes(SerialPort& port, std::size_t size) {
        const std::vector<unsigned char> sent = Pattern(size);
        ASSERT_EQ(port.Write(sent.data(), static_cast<int>(size), 1000), static_cast<int>(size));
        EXPECT_EQ(ReadUpTo(port, size), sent);
    }

    std::string m_name;
    std::wstring m_wideName;
};

TEST_F(EchoPort, OpensWithItsLineSettingsAndReadAtOnceTimeouts) {
    SerialPort port;
    SerialOpenError why = SerialOpenError::Other;
    ASSERT_TRUE(port.Open(m_name.c_str(), BAUD, 8, StopBits::One, Parity::None, why));
    EXPECT_EQ(why, SerialOpenError::None);
    EXPECT_TRUE(port.IsOpen());
    ASSERT_NE(port.GetHandle(), INVALID_HANDLE_VALUE);

    const DCB dcb = CommState(port.GetHandle());
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(BAUD));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    ExpectTimeouts(CommTimeouts(port.GetHandle()), {MAXDWORD, 0, 0, 0, 0});
}

TEST_F(EchoPort, StopBitsAndParityOutsideTheEnumerationsFallBack) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port, StopBits::Two));
    EXPECT_EQ(CommState(port.GetHandle()).StopBits, TWOSTOPBITS);

    ASSERT_TRUE(OpenEcho(port, static_cast<StopBits>(3), static_cast<Parity>(7)));
    const DCB dcb = CommState(port.GetHandle());
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    // A pseudo-terminal keeps no parity setting, and Wine reports fParity from it.
    if (!RunningUnderWine()) {
        EXPECT_EQ(dcb.fParity, 1u);
    }
}

TEST_F(EchoPort, SetTimeoutIgnoresItsFirstArgument) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    for (int first : {0, 1, -7, 100000}) {
        ASSERT_TRUE(port.SetTimeout(first, 500));
        ExpectTimeouts(CommTimeouts(port.GetHandle()), {MAXDWORD, 0, 0, 0, 500});
    }
    ASSERT_TRUE(port.SetTimeout(0, -1));
    EXPECT_EQ(CommTimeouts(port.GetHandle()).WriteTotalTimeoutConstant, 0xFFFFFFFFu);

    const COMMTIMEOUTS custom{1, 2, 3, 4, 5};
    ASSERT_TRUE(port.SetTimeouts(custom));
    ExpectTimeouts(CommTimeouts(port.GetHandle()), custom);
}

TEST_F(EchoPort, BytesWrittenComeBackThroughTheEcho) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    ExpectEchoes(port, 1);
    ExpectEchoes(port, 1024);
}

TEST_F(EchoPort, ReadWithoutDataReturnsZeroWithinItsLimit) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    ASSERT_TRUE(port.DiscardInput());
    unsigned char buffer[16];
    for (int limit : {0, 200}) {
        const auto start = Clock::now();
        EXPECT_EQ(port.Read(buffer, sizeof(buffer), limit), 0) << "limit " << limit;
        EXPECT_LT(ElapsedMs(start), limit + 2000) << "limit " << limit;
    }
    EXPECT_EQ(port.Read(buffer, 0, 10), -1);
    EXPECT_EQ(port.Read(nullptr, sizeof(buffer), 10), -1);
    EXPECT_EQ(port.Write(buffer, 0, 10), -1);
    EXPECT_EQ(port.Write(nullptr, sizeof(buffer), 10), -1);
    EXPECT_TRUE(port.IsOpen());
}

// Each read sets its limit in the driver, which then waits for the first
// byte; under Wine the read-at-once values do that (see the backend), so
// reads keep them there. Time-outs a host sets are left alone.
TEST_F(EchoPort, ReadWaitsInTheDriverForItsFirstByteUnlessTheHostSetTimeouts) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    const auto firstByte = [](DWORD limit, DWORD write) {
        return RunningUnderWine() ? COMMTIMEOUTS{MAXDWORD, 0, 0, 0, write}
                                  : COMMTIMEOUTS{MAXDWORD, MAXDWORD, limit, 0, write};
    };
    unsigned char buffer[16];
    EXPECT_EQ(port.Read(buffer, sizeof buffer, 120), 0);
    ExpectTimeouts(CommTimeouts(port.GetHandle()), firstByte(120, 0));
    EXPECT_EQ(port.Read(buffer, sizeof buffer, 0), 0);
    ExpectTimeouts(CommTimeouts(port.GetHandle()), {MAXDWORD, 0, 0, 0, 0});

    const COMMTIMEOUTS custom{1, 2, 3, 4, 5};
    ASSERT_TRUE(port.SetTimeouts(custom));
    port.Read(buffer, sizeof buffer, POLL_READ_MS);  // Wine reports these time-outs running out as a failure
    ExpectTimeouts(CommTimeouts(port.GetHandle()), custom);

    ASSERT_TRUE(port.SetTimeout(0, 7));
    EXPECT_EQ(port.Read(buffer, sizeof buffer, 80), 0);
    ExpectTimeouts(CommTimeouts(port.GetHandle()), firstByte(80, 7));
}

TEST_F(EchoPort, ReadReturnsWhatArrivesWithoutWaitingOutItsLimit) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    const std::vector<unsigned char> sent = Pattern(5);
    ASSERT_EQ(port.Write(sent.data(), static_cast<int>(sent.size()), 1000), 5);
    unsigned char buffer[64];
    const auto start = Clock::now();
    const int got = port.Read(buffer, sizeof buffer, 20000);
    EXPECT_GT(got, 0);
    EXPECT_LT(ElapsedMs(start), 10000) << "the read waited for a full buffer or its limit";
    EXPECT_EQ(ReadUpTo(port, sent.size() - static_cast<std::size_t>(got)).size(),
              sent.size() - static_cast<std::size_t>(got));
}

TEST_F(EchoPort, DiscardInputDropsTheBytesWaiting) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    const std::vector<unsigned char> sent = Pattern(64);
    ASSERT_EQ(port.Write(sent.data(), static_cast<int>(sent.size()), 1000), 64);
    ASSERT_TRUE(WaitForBytesWaiting(port.GetHandle(), 64));

    EXPECT_TRUE(port.DiscardInput());
    EXPECT_EQ(BytesWaiting(port.GetHandle()), 0u);
    unsigned char buffer[64];
    EXPECT_EQ(port.Read(buffer, sizeof(buffer), POLL_READ_MS), 0);
}

// The cancelled read must be over when Read returns: later bytes neither land
// in the old buffer nor vanish into the cancelled transfer.
TEST_F(EchoPort, TimedOutReadLeavesTheBufferAloneAndLosesNothing) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    std::vector<unsigned char> buffer(16, 0xEE);
    ASSERT_EQ(port.Read(buffer.data(), static_cast<int>(buffer.size()), POLL_READ_MS), 0);

    const std::vector<unsigned char> sent = Pattern(16);
    ASSERT_EQ(port.Write(sent.data(), static_cast<int>(sent.size()), 1000), 16);
    ASSERT_TRUE(WaitForBytesWaiting(port.GetHandle(), 16));
    EXPECT_EQ(buffer, std::vector<unsigned char>(16, 0xEE));
    EXPECT_EQ(ReadUpTo(port, sent.size()), sent);
}

// Nobody reads the echo, so the buffers fill and the write runs out of time;
// the count it gives is exactly what went out, as the echo shows afterwards.
TEST_F(EchoPort, WriteThatOutlastsItsLimitReturnsTheBytesSent) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    const std::vector<unsigned char> big = Pattern(4 << 20);
    const int sent = port.Write(big.data(), static_cast<int>(big.size()), 300);
    ASSERT_GT(sent, 0);
    ASSERT_LT(sent, static_cast<int>(big.size()));
    EXPECT_TRUE(port.IsOpen());

    const std::vector<unsigned char> echoed = ReadUpTo(port, static_cast<std::size_t>(sent));
    ASSERT_EQ(echoed.size(), static_cast<std::size_t>(sent));
    EXPECT_TRUE(std::equal(echoed.begin(), echoed.end(), big.begin()));
    unsigned char extra;
    EXPECT_EQ(port.Read(&extra, 1, 300), 0) << "more came back than Write reported";
}

TEST_F(EchoPort, ReopensAndAFailingReopenLeavesItClosed) {
    SerialPort port;
    ASSERT_TRUE(OpenEcho(port));
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    ASSERT_TRUE(OpenEcho(port));

    EXPECT_FALSE(port.Open(MISSING_PORT_W, BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());
    ASSERT_TRUE(OpenEcho(port));
    EXPECT_FALSE(port.Open(static_cast<const wchar_t*>(nullptr), BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());
    ASSERT_TRUE(OpenEcho(port));
    EXPECT_FALSE(port.Open("\\\\.\\COM\xFF", BAUD, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), INVALID_HANDLE_VALUE);

    ASSERT_TRUE(OpenEcho(port));
    ExpectEchoes(port, 32);
}

TEST_F(EchoPort, AHeldPortCannotBeOpenedTwice) {
    SerialPort first;
    ASSERT_TRUE(OpenEcho(first));
    if (RunningUnderWine()) GTEST_SKIP() << "Wine lets a second CreateFile of a COM port succeed despite share mode 0";
    SerialPort second;
    EXPECT_FALSE(OpenEcho(second));
    EXPECT_FALSE(second.IsOpen());
    ExpectEchoes(first, 8);
}

}  // namespace
